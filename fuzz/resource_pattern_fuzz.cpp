// Fuzzes the viFindRsrc search expressions: compiling any text (the
// regular expression and the attribute expression) and matching what
// compiled against names, bounded in time by the state machine.
//
// Input: the expression, a NUL, then the resource name to match.

#include "visa/resource_pattern.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(text, '\0', size);
    const std::size_t split =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : size;
    const std::string expression(text, split);
    const std::string name = split < size ? std::string(text + split + 1, size - split - 1) : "";
    quarvel::visa::ResourcePattern pattern;
    const ViStatus s = quarvel::visa::ResourcePattern::Compile(expression, pattern);
    if (s != VI_SUCCESS && s != VI_ERROR_INV_EXPR)
        std::abort();
    if (s == VI_SUCCESS) {
        pattern.Matches(name, quarvel::visa::AttributesOfName(name));
        // Every expression that compiles matches the same way twice.
        if (pattern.MatchesName(name) != pattern.MatchesName(name))
            std::abort();
    }
    return 0;
}
