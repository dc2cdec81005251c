#include "sim/waveform_scpi_number.h"

#include <charconv>
#include <cmath>

namespace quarvel::sim {

std::string ScpiReal(double value, int exponentDigits) {
    if (!std::isfinite(value)) {
        return "+9.91000000E+37"; // the SCPI "not a number"
    }
    char text[40];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 8);
    std::string digits(text, end.ptr);
    std::string out = digits[0] == '-' ? "" : "+";
    const std::size_t e = digits.find('e');
    out += digits.substr(0, e);
    out += 'E';
    out += digits[e + 1];
    std::string exponent = digits.substr(e + 2);
    while (static_cast<int>(exponent.size()) < exponentDigits) {
        exponent.insert(exponent.begin(), '0');
    }
    return out + exponent;
}

std::string ScpiInteger(long long value) {
    return (value < 0 ? "" : "+") + std::to_string(value);
}

std::optional<double> ParseScpiReal(std::string_view text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

bool ReadCount(const CommandCall& call, CommandResult& r, long long low, long long high,
               long long& value) {
    const auto number = call.params.size() == 1 ? ParseScpiReal(call.params[0]) : std::nullopt;
    if (!number || *number < low || *number > high) {
        r.Error(-224, "Illegal parameter value");
        return false;
    }
    value = std::llround(*number);
    return true;
}

} // namespace quarvel::sim
