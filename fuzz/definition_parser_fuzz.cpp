// Fuzzes the instrument definition parser (a user's TOML file): any text
// either gives a definition whose limits hold or a problem with a reason.

#include "instr/definition_parser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    quarvel::instr::DefinitionProblem problem;
    const auto definition = quarvel::instr::ParseDefinition(text, "fuzz.toml", problem);
    if (!definition) {
        if (problem.reason.empty() || problem.file != "fuzz.toml")
            std::abort();
        return 0;
    }
    if (definition->name.empty() || definition->models.empty() || definition->imageQuery.empty() ||
        definition->imageQuery.size() > 255 ||
        definition->instrumentFile.empty() != definition->deleteCommand.empty())
        std::abort();
    for (const auto& pattern : definition->models)
        quarvel::instr::ModelMatchesPattern(pattern, "MSO5104");
    return 0;
}
