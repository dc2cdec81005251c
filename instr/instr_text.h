#pragma once

#include <algorithm>
#include <string_view>

// Instrument replies that drivers compare (run states, trigger modes) are
// ASCII words whose case varies between firmware versions; they are compared
// without regard to case, independently of the locale.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}
