#include "instr/family_registry.h"

#include "instr/driver_table.h"
#include "instr/instr_defined.h"
#include "instr/quirk_table.h"
#include "visa/ascii.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel::instr {
namespace {

bool ReadWholeFile(const std::string& path, std::string& text, std::string& why) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "not a readable file";
        return false;
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxDefinitionSize) {
        why = "larger than 64 KiB; not a definition";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot be opened";
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    if (text.size() > kMaxDefinitionSize) {
        why = "larger than 64 KiB; not a definition";
        return false;
    }
    return true;
}

std::string ProgramPrefix() {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string exe(path, static_cast<std::size_t>(n));
    // <prefix>/bin/program -> <prefix>
    for (int i = 0; i < 2; ++i) {
        const auto slash = exe.rfind('/');
        if (slash == std::string::npos)
            return {};
        exe.erase(slash);
    }
    return exe;
}

} // namespace

bool DefinitionTakesMaker(const InstrumentDefinition& definition, std::string_view manufacturer) {
    const Maker named = MakerNamed(definition.maker);
    if (named != Maker::Unknown)
        return MakerOf(manufacturer) == named;
    return quarvel::ascii::EqualsIgnoringCase(definition.maker, manufacturer);
}

bool DefinitionTakesModel(const InstrumentDefinition& definition, std::string_view model) {
    return std::any_of(
        definition.models.begin(), definition.models.end(),
        [&](const std::string& pattern) { return ModelMatchesPattern(pattern, model); });
}

FamilyRegistry::FamilyRegistry() {
    for (const BuiltInDefinitionText& builtIn : BuiltInDefinitionTexts()) {
        DefinitionProblem problem;
        auto parsed = ParseDefinition(builtIn.text, {}, problem);
        // A built-in definition is tested with the build; one that does not
        // parse is reported like a user's file instead of stopping the program.
        if (!parsed) {
            problem.file = "built-in " + std::string(builtIn.fileName);
            m_problems.push_back(problem);
            continue;
        }
        m_builtIn.push_back(std::make_shared<const InstrumentDefinition>(std::move(*parsed)));
    }
}

const FamilyRegistry& FamilyRegistry::Installed() {
    static const FamilyRegistry registry = [] {
        FamilyRegistry r;
        for (const std::string& directory : DefinitionDirectories())
            r.AddDirectory(directory);
        return r;
    }();
    return registry;
}

void FamilyRegistry::AddDirectory(const std::string& directory) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 5 && name.ends_with(".toml") && name[0] != '.')
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        AddFile(directory + "/" + name);
}

bool FamilyRegistry::AddFile(const std::string& path) {
    std::string text;
    std::string why;
    if (!ReadWholeFile(path, text, why)) {
        m_problems.push_back({path, 0, why});
        return false;
    }
    DefinitionProblem problem;
    auto parsed = ParseDefinition(text, path, problem);
    if (!parsed) {
        m_problems.push_back(problem);
        return false;
    }
    m_added.push_back(std::make_shared<const InstrumentDefinition>(std::move(*parsed)));
    return true;
}

std::unique_ptr<CInstrLL> FamilyRegistry::CreateDriver(std::string_view manufacturer,
                                                       std::string_view model) const {
    const auto take = [&](const auto& definitions) -> std::unique_ptr<CInstrLL> {
        for (const auto& definition : definitions)
            if (DefinitionTakesMaker(*definition, manufacturer) &&
                DefinitionTakesModel(*definition, model)) {
                // A waveform method may choose by model (channel count,
                // record forms): the defined driver always receives it.
                auto driver = std::make_unique<CInstrDefined>(definition);
                driver->SetModel(std::string(model));
                return driver;
            }
        return nullptr;
    };
    // Built-in definitions first: two of them take models out of broader
    // rows of the code table (Siglent HD/X Plus from SDS, TDS 1000/2000
    // from TDS; docs/design.md says why).
    if (auto driver = take(m_builtIn))
        return driver;
    if (const DriverTableRow* row = FindDriverRow(manufacturer, model)) {
        std::unique_ptr<CInstrLL> driver = row->create();
        if (row->receivesModel)
            driver->SetModel(std::string(model));
        return driver;
    }
    return take(m_added);
}

std::string FamilyRegistry::FamilyOf(std::string_view manufacturer, std::string_view model) const {
    for (const auto& definition : m_builtIn)
        if (DefinitionTakesMaker(*definition, manufacturer) &&
            DefinitionTakesModel(*definition, model))
            return definition->name;
    if (const DriverTableRow* row = FindDriverRow(manufacturer, model))
        return std::string(row->name);
    for (const auto& definition : m_added)
        if (DefinitionTakesMaker(*definition, manufacturer) &&
            DefinitionTakesModel(*definition, model))
            return definition->name;
    return {};
}

std::vector<FamilyListing> FamilyRegistry::Families() const {
    std::vector<FamilyListing> list;
    const auto addDefinitions = [&](const auto& definitions) {
        for (const auto& d : definitions)
            list.push_back({d->name, d->maker, d->models, d->file});
    };
    addDefinitions(m_builtIn);
    for (const DriverTableRow& row : DriverTable())
        list.push_back({std::string(row.name),
                        std::string(MakerName(row.maker)),
                        std::vector<std::string>(row.models.begin(), row.models.end()),
                        {}});
    addDefinitions(m_added);
    return list;
}

std::string UserDefinitionDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/Hollin/Quarvel/instruments";
}

std::vector<std::string> DefinitionDirectories() {
    std::vector<std::string> directories = {UserDefinitionDirectory()};
    const std::string prefix = ProgramPrefix();
    if (!prefix.empty())
        directories.push_back(prefix + "/share/quarvel/instruments");
    return directories;
}

} // namespace quarvel::instr
