#include "instr/retrieval_preamble.h"

#include "wavedata/waveform_preamble.h"

#include <cmath>
#include <vector>

namespace quarvel::wavedata {

bool ParseTenFieldPreamble(std::string_view text, TenFieldPreamble& out, std::string& why) {
    std::vector<double> fields;
    std::size_t begin = 0;
    while (fields.size() < 10 && begin <= text.size()) {
        std::size_t end = text.find(',', begin);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view field = text.substr(begin, end - begin);
        double value = 0.0;
        if (!ReadLeadingReal(field, value) || !std::isfinite(value)) {
            why = "the preamble '" + std::string(text.substr(0, 80)) + "' has no number in field " +
                  std::to_string(fields.size() + 1);
            return false;
        }
        fields.push_back(value);
        begin = end + 1;
    }
    if (fields.size() < 10) {
        why = "the preamble '" + std::string(text.substr(0, 80)) + "' has " +
              std::to_string(fields.size()) + " fields, not 10";
        return false;
    }
    if (fields[2] < 1 || fields[2] > MAX_WAVEFORM_POINTS || fields[2] != std::floor(fields[2])) {
        why = "the preamble announces " + std::to_string(fields[2]) + " points, outside 1 to " +
              std::to_string(MAX_WAVEFORM_POINTS);
        return false;
    }
    if (!(fields[4] > 0.0) || fields[7] == 0.0) {
        why = "the preamble gives no usable time or voltage increment";
        return false;
    }
    out.points = static_cast<std::uint32_t>(fields[2]);
    out.xIncrement = fields[4];
    out.xOrigin = fields[5];
    out.xReference = fields[6];
    out.yIncrement = fields[7];
    out.yOrigin = fields[8];
    out.yReference = fields[9];
    return true;
}

} // namespace quarvel::wavedata
