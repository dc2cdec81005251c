#pragma once

// Real numbers as the simulated instruments print them ("+2.00000000E+09",
// "-1.00000000E-007") and read them, independent of the C locale.

#include "sim/command_table.h"

#include <optional>
#include <string>
#include <string_view>

namespace quarvel::sim {

// Sign, one digit, eight decimals, "E", exponent sign and at least
// `exponentDigits` exponent digits.
std::string ScpiReal(double value, int exponentDigits);
// "+1000", "-3".
std::string ScpiInteger(long long value);
// A decimal or scientific number with an optional sign; nullopt otherwise.
std::optional<double> ParseScpiReal(std::string_view text);
// The one parameter of `call` as a whole count within [low, high] into
// `value`; otherwise error -224 "Illegal parameter value" and false.
bool ReadCount(const CommandCall& call, CommandResult& r, long long low, long long high,
               long long& value);

} // namespace quarvel::sim
