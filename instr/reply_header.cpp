#include "instr/reply_header.h"

#include "instr/quirk_table.h"

#include <algorithm>

namespace quarvel::instr {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// The header of a command text: up to the first blank or line end, without
// the query mark and the leading colon.
std::string_view HeaderOf(std::string_view text) {
    const std::size_t end = text.find_first_of(" \t\r\n");
    std::string_view header = text.substr(0, end);
    if (header.ends_with('?'))
        header.remove_suffix(1);
    if (header.starts_with(':'))
        header.remove_prefix(1);
    return header;
}

bool AreAliases(std::string_view a, std::string_view b) {
    for (const FamilyHabits& row : QuirkTable())
        for (const HeaderAlias& alias : row.headerAliases)
            if ((EqualNoCase(a, alias.shortForm) && EqualNoCase(b, alias.longForm)) ||
                (EqualNoCase(a, alias.longForm) && EqualNoCase(b, alias.shortForm)))
                return true;
    return false;
}

// One node of a header ("ACQuire", "CH1", "*OPC"): the same mnemonic in any
// case, or one form the SCPI short form of the other (at least three
// letters that begin the long form), with the same numeric suffix.
bool SameNode(std::string_view a, std::string_view b) {
    if (EqualNoCase(a, b) || AreAliases(a, b))
        return true;
    const auto splitSuffix = [](std::string_view& node) {
        std::size_t letters = node.size();
        while (letters > 0 && IsDigit(node[letters - 1]))
            --letters;
        const std::string_view suffix = node.substr(letters);
        node = node.substr(0, letters);
        return suffix;
    };
    if (splitSuffix(a) != splitSuffix(b))
        return false;
    const std::string_view shorter = a.size() <= b.size() ? a : b;
    const std::string_view longer = a.size() <= b.size() ? b : a;
    return shorter.size() >= 3 && shorter.front() != '*' && StartsWithNoCase(longer, shorter);
}

bool SameHeader(std::string_view echo, std::string_view query) {
    for (;;) {
        const std::size_t echoColon = echo.find(':');
        const std::size_t queryColon = query.find(':');
        if (!SameNode(echo.substr(0, echoColon), query.substr(0, queryColon)))
            return false;
        if (echoColon == std::string_view::npos || queryColon == std::string_view::npos)
            return echoColon == queryColon;
        echo.remove_prefix(echoColon + 1);
        query.remove_prefix(queryColon + 1);
    }
}

} // namespace

std::string_view SkipEchoedHeader(std::string_view reply, std::string_view query) {
    const std::string_view queryHeader = HeaderOf(query);
    const std::size_t blank = std::find_if(reply.begin(), reply.end(), IsBlank) - reply.begin();
    if (queryHeader.empty() || blank == reply.size())
        return reply;
    std::string_view echo = reply.substr(0, blank);
    if (echo.starts_with(':'))
        echo.remove_prefix(1);
    if (echo.empty() || !SameHeader(echo, queryHeader))
        return reply;
    reply.remove_prefix(blank);
    while (!reply.empty() && IsBlank(reply.front()))
        reply.remove_prefix(1);
    return reply;
}

} // namespace quarvel::instr
