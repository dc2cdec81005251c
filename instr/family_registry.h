#pragma once

// Every instrument family Quarvel knows and how it is chosen for an
// identification: the built-in definitions (families that are data, compiled
// in), the families with drivers of their own (instr/driver_table.h), then
// the definition files found in the definition directories, in that order.
// The first family whose maker and model patterns match serves the
// instrument.

#include "instr/definition_parser.h"
#include "instr/instr_ll.h"
#include "instr/instrument_definition.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::instr {

// One line of `quarvel-cli families`.
struct FamilyListing {
    std::string name;
    std::string maker;
    std::vector<std::string> models;
    std::string file; // empty: built in
};

class FamilyRegistry {
public:
    // Only the built-in families.
    FamilyRegistry();

    // The registry of this program: the built-in families and the files of
    // DefinitionDirectories(), read once at the first call.
    static const FamilyRegistry& Installed();

    // Adds every "*.toml" file of `directory` (not its subdirectories), in
    // name order. A file that cannot be read or parsed is skipped and noted
    // in Problems(); a missing directory adds nothing.
    void AddDirectory(const std::string& directory);
    // Adds one definition file; false (and noted) when it is not usable.
    bool AddFile(const std::string& path);

    // The driver for an identification's maker and model, with the session
    // not yet set; nullptr when no family matches.
    std::unique_ptr<CInstrLL> CreateDriver(std::string_view manufacturer,
                                           std::string_view model) const;
    // The name of the family that takes the instrument, "" for none.
    std::string FamilyOf(std::string_view manufacturer, std::string_view model) const;

    std::vector<FamilyListing> Families() const;
    const std::vector<DefinitionProblem>& Problems() const { return m_problems; }

private:
    std::vector<std::shared_ptr<const InstrumentDefinition>> m_builtIn;
    std::vector<std::shared_ptr<const InstrumentDefinition>> m_added;
    std::vector<DefinitionProblem> m_problems;
};

// Where users put their definitions: $XDG_CONFIG_HOME/Hollin/Quarvel/instruments
// ($HOME/.config when XDG_CONFIG_HOME is unset or not absolute).
std::string UserDefinitionDirectory();
// The directories read, in order: the user's, then <prefix>/share/quarvel/
// instruments beside the running program (<prefix>/bin).
std::vector<std::string> DefinitionDirectories();

// Whether a definition's maker text takes this identification's manufacturer.
bool DefinitionTakesMaker(const InstrumentDefinition& definition, std::string_view manufacturer);
bool DefinitionTakesModel(const InstrumentDefinition& definition, std::string_view model);

// The texts of the built-in definitions (generated from instr/definitions).
struct BuiltInDefinitionText {
    std::string_view fileName;
    std::string_view text;
};
std::span<const BuiltInDefinitionText> BuiltInDefinitionTexts();

} // namespace quarvel::instr
