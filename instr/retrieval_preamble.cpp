#include "instr/retrieval_preamble.h"

#include "wavedata/waveform_preamble.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quarvel::wavedata {
namespace {

// Field `index` (from 0) of a comma-separated preamble, as sent (at most 20
// characters, for a message).
std::string_view FieldText(std::string_view text, std::size_t index) {
    for (; index > 0; --index) {
        const std::size_t comma = text.find(',');
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return text.substr(0, std::min(text.find(','), std::size_t{20}));
}

} // namespace

bool ParseTenFieldPreamble(std::string_view text, TenFieldPreamble& out, std::string& why,
                           std::uint32_t maxPoints) {
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
    if (fields[2] < 1 || fields[2] > maxPoints || fields[2] != std::floor(fields[2])) {
        why = "the preamble announces " + std::to_string(fields[2]) + " points, outside 1 to " +
              std::to_string(maxPoints);
        return false;
    }
    // A time increment of 0 comes from DHO firmware at times (scopehal's
    // RigolOscilloscope.cpp skips such a waveform): named as such.
    if (!(fields[4] > 0.0)) {
        why = "the preamble gives a time increment of " + std::string(FieldText(text, 4)) +
              ", no usable time axis";
        return false;
    }
    if (fields[7] == 0.0) {
        why = "the preamble gives no usable voltage increment";
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
