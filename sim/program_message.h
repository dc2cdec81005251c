#pragma once

// Splitting of a received program message into its command units: units are
// separated by ';' outside quoted strings; each unit is a header followed by
// white space and its arguments, which are separated by commas.

#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sim {

struct ProgramUnit {
    std::string header;
    std::string argumentText; // trimmed
};

// Empty units (";;", a trailing ';') are dropped.
std::vector<ProgramUnit> SplitProgramMessage(std::string_view message);

// Arguments split at commas outside quotes, each trimmed; empty text gives no
// parameters.
std::vector<std::string> SplitParameters(std::string_view argumentText);

} // namespace quarvel::sim
