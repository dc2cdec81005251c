#include "sim/program_message.h"

namespace quarvel::sim {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Splits at separator characters that are not inside '...' or "..." strings.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == separator) {
            pieces.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

} // namespace

std::vector<ProgramUnit> SplitProgramMessage(std::string_view message) {
    std::vector<ProgramUnit> units;
    for (std::string_view piece : SplitOutsideQuotes(message, ';')) {
        piece = Trim(piece);
        if (piece.empty())
            continue;
        std::size_t end = 0;
        while (end < piece.size() && !IsSpace(piece[end]))
            ++end;
        units.push_back({std::string(piece.substr(0, end)), std::string(Trim(piece.substr(end)))});
    }
    return units;
}

std::vector<std::string> SplitParameters(std::string_view argumentText) {
    std::vector<std::string> params;
    if (Trim(argumentText).empty())
        return params;
    for (std::string_view piece : SplitOutsideQuotes(argumentText, ','))
        params.emplace_back(Trim(piece));
    return params;
}

} // namespace quarvel::sim
