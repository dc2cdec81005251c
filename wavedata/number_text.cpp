#include "wavedata/number_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Powers of ten that are exact doubles.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPower = 22;

// |value| scaled by 10^k with one correctly rounded operation; false when
// 10^k is no exact double.
bool Scale(double magnitude, int k, double& scaled) {
    if (k > kMaxExactPower || k < -kMaxExactPower) {
        return false;
    }
    scaled = k >= 0 ? magnitude * kExactPowers[k] : magnitude / kExactPowers[-k];
    return true;
}

// "00" to "99": two digits a step, so a number needs half the divisions (the
// digits are most of a large CSV file's cost).
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233"
    "34353637383940414243444546474849505152535455565758596061626364656667"
    "6869707172737475767778798081828384858687888990919293949596979899";

void WritePair(char* out, unsigned value) {
    std::memcpy(out, kDigitPairs + 2 * value, 2);
}

// digits: seven of them (1 000 000 to 9 999 999, or 0).
std::size_t WriteScientific(char* out, bool negative, std::uint32_t digits, int exponent) {
    std::size_t pos = 0;
    if (negative) {
        out[pos++] = '-';
    }
    const std::uint32_t fraction = digits % 1000000;
    out[pos++] = static_cast<char>('0' + digits / 1000000);
    out[pos++] = '.';
    WritePair(out + pos, fraction / 10000);
    WritePair(out + pos + 2, fraction / 100 % 100);
    WritePair(out + pos + 4, fraction % 100);
    pos += 6;
    out[pos++] = 'e';
    out[pos++] = exponent < 0 ? '-' : '+';
    const unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
    out[pos++] = static_cast<char>('0' + magnitude / 100);
    WritePair(out + pos, magnitude % 100);
    return pos + 2;
}

// The exact "%e" digits from the C++ library: correctly rounded, slower.
std::size_t ExactScientific(double value, char* out) {
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

} // namespace

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
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0) {
        return WriteScientific(out, negative, 0, 0);
    }
    // Fast path for the values data files hold: scale the value into
    // [1e6, 1e7) with one rounding and round to an integer. The scaling
    // error is far below 1e-6 of a unit, so the rounding is the exact one
    // unless the fraction lies that close to one half; such values, and
    // those needing a power of ten that is no exact double, take the exact
    // conversion.
    const auto bits = std::bit_cast<std::uint64_t>(magnitude);
    const int biased = static_cast<int>(bits >> 52);
    if (biased == 0) {
        return ExactScientific(value, out); // subnormal
    }
    // floor(log10(2^(biased - 1023))), off by at most one: corrected below.
    int exponent = ((biased - 1023) * 1233) >> 12;
    double scaled = 0.0;
    if (!Scale(magnitude, 6 - exponent, scaled)) {
        return ExactScientific(value, out);
    }
    if (scaled < 1e6) {
        --exponent;
    } else if (scaled >= 1e7) {
        ++exponent;
    }
    if ((scaled < 1e6 || scaled >= 1e7) && !Scale(magnitude, 6 - exponent, scaled)) {
        return ExactScientific(value, out);
    }
    if (scaled < 1e6 || scaled >= 1e7) {
        return ExactScientific(value, out);
    }
    const auto whole = static_cast<std::uint32_t>(scaled); // truncation is floor here
    const double fraction = scaled - whole;
    if (fraction > 0.5 - 1e-6 && fraction < 0.5 + 1e-6) {
        return ExactScientific(value, out);
    }
    std::uint32_t digits = whole + (fraction > 0.5 ? 1u : 0u);
    if (digits == 10000000u) {
        digits = 1000000u;
        ++exponent;
    }
    return WriteScientific(out, negative, digits, exponent);
}

std::size_t FormatByteSample(std::uint8_t value, char* out) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    out[0] = '0';
    out[1] = 'x';
    out[2] = HEX[value >> 4];
    out[3] = HEX[value & 0x0F];
    return 4;
}
