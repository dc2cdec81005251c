#pragma once

// Reads an instrument definition (TOML; docs/design.md, "Instrument
// definitions", documents every key). A definition comes from a file a user
// wrote, so everything in it is checked before it is used: a mistake gives
// the file, the line and the reason, and the definition is not used.

#include "instr/instrument_definition.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarvel::instr {

// Longest definition text read; a larger file is no definition.
constexpr std::size_t kMaxDefinitionSize = 64 * 1024;

struct DefinitionProblem {
    std::string file;
    std::uint32_t line = 0; // 1-based; 0 when the problem is the whole file
    std::string reason;

    // "file:line: reason"
    std::string Text() const;
};

// Parses `text`; `file` names it in problems and goes into the definition
// (empty for a built-in one, whose problems name "built-in"). On a problem
// returns nothing and describes it in `problem`.
std::optional<InstrumentDefinition> ParseDefinition(std::string_view text, const std::string& file,
                                                    DefinitionProblem& problem);

} // namespace quarvel::instr
