#include "sim/instrument_files.h"

#include <cctype>

namespace quarvel::sim {

std::string InstrumentFiles::Normalise(std::string_view path) {
    std::string name(path);
    for (char& c : name)
        if (c == '\\')
            c = '/';
    if (name.size() >= 2 && name[1] == ':')
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

bool InstrumentFiles::Store(std::string_view path, std::string contents) {
    std::string name = Normalise(path);
    if (m_files.size() >= kMaxFiles && m_files.find(name) == m_files.end())
        return false;
    m_files[std::move(name)] = std::move(contents);
    return true;
}

const std::string* InstrumentFiles::Find(std::string_view path) const {
    const auto it = m_files.find(Normalise(path));
    return it == m_files.end() ? nullptr : &it->second;
}

bool InstrumentFiles::Erase(std::string_view path) {
    return m_files.erase(Normalise(path)) != 0;
}

std::vector<std::string> InstrumentFiles::Paths() const {
    std::vector<std::string> paths;
    for (const auto& [path, contents] : m_files)
        paths.push_back(path);
    return paths;
}

std::vector<std::string> InstrumentFiles::NamesIn(std::string_view directory) const {
    std::string prefix = Normalise(directory);
    if (prefix.empty() || prefix.back() != '/')
        prefix += '/';
    std::vector<std::string> names;
    for (const auto& [path, contents] : m_files)
        if (path.starts_with(prefix) && path.find('/', prefix.size()) == std::string::npos)
            names.push_back(path.substr(prefix.size()));
    return names;
}

void AddMassMemoryReadAndDelete(CommandTable& table, InstrumentFiles& files) {
    table.Add(":MMEMory:DATA?", [&files](const CommandCall& call, CommandResult& r) {
        const std::string* file = call.params.size() == 1 ? files.Find(call.Unquoted(0)) : nullptr;
        if (file == nullptr) {
            r.Error(-256, "File name not found");
            return;
        }
        r.Block(*file, 0, true, ImageExtensionOf(*file));
    });
    table.Add(":MMEMory:DELete", [&files](const CommandCall& call, CommandResult& r) {
        if (call.params.size() != 1 || !files.Erase(call.Unquoted(0)))
            r.Error(-256, "File name not found");
    });
}

void AddSimulatorFileList(CommandTable& table, const InstrumentFiles& files) {
    table.Add(":SIMulator:FILes?", [&files](const CommandCall&, CommandResult& r) {
        std::string list;
        for (const std::string& path : files.Paths())
            list += (list.empty() ? "\"" : ",\"") + path + "\"";
        r.Text(list);
    });
}

std::string ImageExtensionOf(std::string_view contents) {
    if (contents.starts_with("\x89PNG"))
        return "png";
    if (contents.starts_with("BM"))
        return "bmp";
    return {};
}

} // namespace quarvel::sim
