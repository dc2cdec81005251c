// quarvel-cli families: every instrument family Quarvel knows (built in or
// from a definition file), and --check FILE, which validates one definition.

#include "cli/commands.h"
#include "instr/family_registry.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr const char* USAGE = "usage: quarvel-cli families [--check FILE]\n";

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

void PrintFamily(const quarvel::instr::FamilyListing& family) {
    std::printf("%s\n  maker: %s\n  models: %s\n  from: %s\n", family.name.c_str(),
                family.maker.c_str(), Joined(family.models).c_str(),
                family.file.empty() ? "built in" : family.file.c_str());
}

int CheckFile(const std::string& path) {
    quarvel::instr::FamilyRegistry registry;
    if (!registry.AddFile(path)) {
        for (const auto& problem : registry.Problems())
            std::fprintf(stderr, "%s\n", problem.Text().c_str());
        return 1;
    }
    const auto families = registry.Families();
    std::printf("%s: a valid definition\n", path.c_str());
    PrintFamily(families.back());
    return 0;
}

} // namespace

int RunFamiliesCommand(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--check")
        return CheckFile(argv[2]);
    if (argc != 1) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    const auto& registry = quarvel::instr::FamilyRegistry::Installed();
    for (const auto& family : registry.Families())
        PrintFamily(family);
    // A definition that could not be used is named, so its author sees why
    // the instrument is still unknown.
    for (const auto& problem : registry.Problems())
        std::fprintf(stderr, "quarvel-cli families: skipped %s\n", problem.Text().c_str());
    std::printf("Definitions are read from:");
    for (const std::string& directory : quarvel::instr::DefinitionDirectories())
        std::printf(" %s", directory.c_str());
    std::printf("\n");
    return 0;
}
