#pragma once

// ASCII case helpers, the one set every layer uses: protocol keywords
// (resource names, HiSLIP sub-addresses, discovery methods), SCPI headers and
// replies whose case varies between firmware versions, file extensions.
// Only A-Z and a-z change; unlike std::tolower they do not depend on the
// C locale, and bytes over 0x7F stay as they are.

#include <algorithm>
#include <string>
#include <string_view>

namespace quarvel::ascii {

constexpr char ToLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char ToUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return ToLower(x) == ToLower(y); });
}

inline std::string ToLower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return ToLower(c); });
    return out;
}

inline std::string ToUpper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return ToUpper(c); });
    return out;
}

} // namespace quarvel::ascii
