#pragma once

#include <cstddef>
#include <cstdint>

// Number texts of the data files, identical on every platform and in every
// locale:
//  - doubles in the "%e" form with at least three exponent digits:
//    5.000000e-001, -1.000000e+000, 1.234568e+100;
//  - not-a-number as "nan" (whatever its sign bit), infinities as "inf" and
//    "-inf" (the words the C library's "%e" prints, without the
//    platform-specific decorations);
//  - byte samples as "0x" and two upper-case hexadecimal digits.

// Room needed by FormatScientific: sign, "d.dddddd", "e", sign, 3 digits.
constexpr std::size_t SCIENTIFIC_TEXT_MAX = 16;

// Writes the text of `value` at `out` (no terminating zero); returns its length.
std::size_t FormatScientific(double value, char* out);
// Writes the four characters "0xHH" at `out`; returns 4.
std::size_t FormatByteSample(std::uint8_t value, char* out);
