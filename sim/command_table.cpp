#include "sim/command_table.h"

#include <cctype>
#include <utility>

namespace quarvel::sim {
namespace {

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Splits "A:B:C" (leading colon already removed) into its nodes; an empty
// node ("A::B", "A:") makes the header invalid.
bool SplitHeader(std::string_view header, std::vector<std::string_view>& tokens) {
    tokens.clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = header.find(':', start);
        const std::string_view token = header.substr(start, colon - start);
        if (token.empty())
            return false;
        tokens.push_back(token);
        if (colon == std::string_view::npos)
            return true;
        start = colon + 1;
    }
}

} // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    return true;
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = Upper(c);
    return out;
}

std::string CommandCall::Unquoted(std::size_t i) const {
    if (i >= params.size())
        return {};
    const std::string& p = params[i];
    if (p.size() >= 2 && (p.front() == '\'' || p.front() == '"') && p.back() == p.front())
        return p.substr(1, p.size() - 2);
    return p;
}

void CommandResult::Text(std::string text) {
    hasReply = true;
    reply = Reply{Reply::Kind::Text, std::move(text), 0, true, {}, {}, false, 0};
}

void CommandResult::Block(std::string data, int digits, bool trailingLf,
                          std::string imageExtension) {
    hasReply = true;
    reply = Reply{Reply::Kind::Block,
                  std::move(data),
                  digits,
                  trailingLf,
                  std::move(imageExtension),
                  {},
                  false,
                  0};
}

void CommandResult::Raw(std::string data, std::string imageExtension) {
    hasReply = true;
    reply =
        Reply{Reply::Kind::Raw, std::move(data), 0, false, std::move(imageExtension), {}, false, 0};
}

void CommandResult::Error(int code, std::string text) {
    errorCode = code;
    errorText = std::move(text);
}

bool CommandTable::ParsePattern(std::string_view pattern, Command& command) {
    if (!pattern.empty() && pattern.back() == '?') {
        command.query = true;
        pattern.remove_suffix(1);
    }
    std::size_t i = 0;
    while (i < pattern.size()) {
        Node node;
        std::string_view text;
        if (pattern[i] == '[') {
            const std::size_t close = pattern.find(']', i);
            if (close == std::string_view::npos)
                return false;
            text = pattern.substr(i + 1, close - i - 1);
            node.optional = true;
            i = close + 1;
        } else {
            const std::size_t end = pattern.find_first_of(":[", i + 1);
            text = pattern.substr(i, end == std::string_view::npos ? end : end - i);
            i = end == std::string_view::npos ? pattern.size() : end;
        }
        if (!text.empty() && text.front() == ':')
            text.remove_prefix(1);
        if (!text.empty() && text.back() == '#') {
            node.numericSuffix = true;
            text.remove_suffix(1);
        }
        if (text.empty())
            return false;
        for (char c : text)
            if (!std::islower(static_cast<unsigned char>(c)))
                node.shortForm += c;
        node.longForm = UpperCase(text);
        if (node.shortForm.empty())
            return false;
        command.nodes.push_back(std::move(node));
    }
    return !command.nodes.empty();
}

bool CommandTable::Add(std::string_view pattern, CommandHandler handler) {
    Command command;
    if (!handler || !ParsePattern(pattern, command))
        return false;
    command.handler = std::move(handler);
    m_commands.push_back(std::move(command));
    return true;
}

bool CommandTable::MatchNodes(const std::vector<Node>& nodes, std::size_t n,
                              const std::vector<std::string_view>& tokens, std::size_t t,
                              std::vector<int>& suffixes, std::vector<const Node*>& path) {
    if (n == nodes.size())
        return t == tokens.size();
    const Node& node = nodes[n];
    if (t < tokens.size()) {
        std::string_view token = tokens[t];
        int suffix = 1;
        bool matched = false;
        if (node.numericSuffix) {
            std::size_t digits = 0;
            while (digits < token.size() && digits < 6 && IsDigit(token[token.size() - 1 - digits]))
                ++digits;
            if (digits > 0 && digits < token.size()) {
                suffix = std::stoi(std::string(token.substr(token.size() - digits)));
                token.remove_suffix(digits);
            }
        }
        matched = EqualsNoCase(token, node.shortForm) || EqualsNoCase(token, node.longForm);
        if (matched) {
            const std::size_t mark = suffixes.size();
            if (node.numericSuffix)
                suffixes.push_back(suffix);
            path.push_back(&node);
            if (MatchNodes(nodes, n + 1, tokens, t + 1, suffixes, path))
                return true;
            path.pop_back();
            suffixes.resize(mark);
        }
    }
    if (node.optional) {
        const std::size_t mark = suffixes.size();
        if (node.numericSuffix)
            suffixes.push_back(1);
        // Instruments echo the whole path, optional nodes included.
        path.push_back(&node);
        if (MatchNodes(nodes, n + 1, tokens, t, suffixes, path))
            return true;
        path.pop_back();
        suffixes.resize(mark);
    }
    return false;
}

const CommandHandler* CommandTable::Find(std::string_view header, std::vector<int>& suffixes,
                                         HeaderForms* forms) const {
    suffixes.clear();
    bool query = false;
    if (!header.empty() && header.back() == '?') {
        query = true;
        header.remove_suffix(1);
    }
    if (!header.empty() && header.front() == ':')
        header.remove_prefix(1);
    std::vector<std::string_view> tokens;
    if (header.empty() || !SplitHeader(header, tokens))
        return nullptr;
    std::vector<const Node*> path;
    for (const Command& command : m_commands) {
        if (command.query != query)
            continue;
        path.clear();
        if (MatchNodes(command.nodes, 0, tokens, 0, suffixes, path)) {
            if (forms != nullptr) {
                *forms = {};
                std::size_t suffix = 0;
                for (const Node* node : path) {
                    const std::string separator = forms->shortForm.empty() ? "" : ":";
                    std::string number;
                    if (node->numericSuffix && suffix < suffixes.size())
                        number = std::to_string(suffixes[suffix++]);
                    forms->shortForm += separator + node->shortForm + number;
                    forms->longForm += separator + node->longForm + number;
                }
            }
            return &command.handler;
        }
        suffixes.clear();
    }
    return nullptr;
}

} // namespace quarvel::sim
