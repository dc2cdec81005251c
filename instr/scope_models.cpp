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

int ChannelCountOfTektronixModel(const std::string& model) {
    std::size_t i = model.find_first_of("0123456789");
    if (i == std::string::npos)
        return 4;
    while (i + 1 < model.size() && model[i + 1] >= '0' && model[i + 1] <= '9')
        ++i;
    const int count = model[i] - '0';
    return count == 2 || count == 4 || count == 6 || count == 8 ? count : 4;
}
