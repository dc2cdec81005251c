#pragma once

// The SCPI command tables of the simulated instruments. A command is declared
// by its pattern in the notation of instrument manuals: upper-case letters
// (and digits) form the short form, the whole node the long form, a node in
// brackets is optional, a node ending in '#' takes a numeric suffix, and a
// trailing '?' marks a query:
//
//     ":DISPlay:DATA?"   "[:SENSe]:WINDow:DETector#:FUNCtion?"   "*IDN?"
//
// A received header matches a node when it equals the node's short or long
// form, without regard to case. Families extend their table from any source
// file with CommandTable::Add; the first matching entry wins.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sim {

// One response unit produced by a query.
struct Reply {
    enum class Kind {
        Text,  // response text; the message terminator is added later
        Block, // IEEE 488.2 definite-length block around data
        Raw,   // bytes sent as they are, without any terminator
    };
    Kind kind = Kind::Text;
    std::string data;
    // Block: number of length digits in the header ("#8..." = 8); 0 = as few as needed.
    int blockDigits = 0;
    // Block: whether the response message ends with LF after the data.
    bool trailingLf = true;
    // Extension ("png", "bmp") when data is an image file; such replies can be dumped.
    std::string imageExtension;
    // Bytes sent right after the data (what some firmware puts after a block
    // or file); not part of the data, so not part of a dumped image.
    std::string trailer;
    // Sent exactly as given on every transport: a raw socket adds no line
    // feed after an unterminated reply.
    bool exact = false;
    // The instrument needs this long before the first byte of the reply
    // (a hardcopy being rendered); the link waits as it would for a slow
    // instrument, without holding the instrument's lock.
    int delayMs = 0;
};

// The header of the command a received header matched, in the notation
// instruments echo: nodes joined by ':', numeric suffixes as received.
struct HeaderForms {
    std::string shortForm; // "ACQ:STATE", "TRMD", "*OPC"
    std::string longForm;  // "ACQUIRE:STATE", "TRMD", "*OPC"
};

// A received command unit, split for the handler.
struct CommandCall {
    std::string header;              // as received, e.g. ":DISP:DATA?"
    std::string argumentText;        // everything after the header, trimmed
    std::vector<std::string> params; // argumentText split at commas, trimmed, quotes kept
    std::vector<int> suffixes;       // values of the '#' nodes, in pattern order (default 1)

    // Parameter i without surrounding quotes; empty when absent.
    std::string Unquoted(std::size_t i) const;
};

// What a handler hands back: at most one reply and at most one error.
struct CommandResult {
    bool hasReply = false;
    Reply reply;
    int errorCode = 0;
    std::string errorText;

    void Text(std::string text);
    void Block(std::string data, int digits, bool trailingLf, std::string imageExtension = {});
    void Raw(std::string data, std::string imageExtension = {});
    void Error(int code, std::string text);
};

using CommandHandler = std::function<void(const CommandCall&, CommandResult&)>;

class CommandTable {
public:
    // Adds a command; a malformed pattern is a programming error reported by
    // returning false (the command is not added).
    bool Add(std::string_view pattern, CommandHandler handler);

    // Finds the handler for a header ("DISP:DATA?", "*idn?"); fills the
    // numeric suffixes. Null when no entry matches.
    const CommandHandler* Find(std::string_view header, std::vector<int>& suffixes,
                               HeaderForms* forms = nullptr) const;

    std::size_t Size() const { return m_commands.size(); }

private:
    struct Node {
        std::string shortForm; // upper case
        std::string longForm;  // upper case
        bool optional = false;
        bool numericSuffix = false;
    };
    struct Command {
        std::vector<Node> nodes;
        bool query = false;
        CommandHandler handler;
    };
    static bool ParsePattern(std::string_view pattern, Command& command);
    static bool MatchNodes(const std::vector<Node>& nodes, std::size_t n,
                           const std::vector<std::string_view>& tokens, std::size_t t,
                           std::vector<int>& suffixes, std::vector<const Node*>& path);

    std::vector<Command> m_commands;
};

// Case-insensitive ASCII comparison and upper-casing, used across the simulator.
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string UpperCase(std::string_view text);

} // namespace quarvel::sim
