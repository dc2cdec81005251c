#include "wavedata/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

std::size_t FormatScientific(double value, char* out) {
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return 3;
    }
    if (std::isinf(value)) {
        if (value < 0) {
            std::memcpy(out, "-inf", 4);
            return 4;
        }
        std::memcpy(out, "inf", 3);
        return 3;
    }
    // to_chars gives the "%e" digits without locale and without printf's
    // parsing cost, but with at least two exponent digits; the files carry
    // at least three.
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 6);
    const std::size_t length = static_cast<std::size_t>(result.ptr - text);
    const char* e = static_cast<const char*>(std::memchr(text, 'e', length));
    const std::size_t mantissa = static_cast<std::size_t>(e - text) + 2; // through the sign
    const std::size_t digits = length - mantissa;
    std::memcpy(out, text, mantissa);
    std::size_t pos = mantissa;
    for (std::size_t pad = digits; pad < 3; ++pad) {
        out[pos++] = '0';
    }
    std::memcpy(out + pos, text + mantissa, digits);
    return pos + digits;
}

std::size_t FormatByteSample(std::uint8_t value, char* out) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    out[0] = '0';
    out[1] = 'x';
    out[2] = HEX[value >> 4];
    out[3] = HEX[value & 0x0F];
    return 4;
}
