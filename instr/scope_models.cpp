#include "instr/scope_models.h"

int ChannelCountOfModel(const std::string& model) {
    for (std::size_t i = 0; i + 4 <= model.size(); ++i) {
        bool digits = true;
        for (std::size_t k = i; k < i + 4; ++k)
            digits = digits && model[k] >= '0' && model[k] <= '9';
        if (digits)
            return model[i + 3] == '2' ? 2 : 4;
    }
    return 4;
}
