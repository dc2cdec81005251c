#include "capture/paths.h"

#include <sys/stat.h>

#include <vector>

namespace qpaths {

std::string RemoveBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::size_t FindExtension(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos)
        return std::string::npos;
    if (path.find_first_of(" /", dot + 1) != std::string::npos)
        return std::string::npos;
    return dot;
}

std::string ExtensionOf(const std::string& path) {
    const auto dot = FindExtension(path);
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

std::string RemoveExtension(const std::string& path) {
    const auto dot = FindExtension(path);
    return dot == std::string::npos ? path : path.substr(0, dot);
}

std::string RemoveAllExtensions(const std::string& path) {
    std::string result = path;
    for (auto dot = FindExtension(result); dot != std::string::npos; dot = FindExtension(result))
        result.erase(dot);
    return result;
}

std::string AddExtension(const std::string& path, const std::string& extensionWithDot) {
    if (FindExtension(path) != std::string::npos)
        return path;
    return path + extensionWithDot;
}

namespace {

std::vector<std::string> SplitComponents(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string::npos ? path.size() : slash;
        parts.push_back(path.substr(start, end - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return parts;
}

// Removes "." and ".." components; ".." never climbs above the root of an
// absolute path, and is kept at the front of a relative one.
std::string Normalise(const std::string& path) {
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> kept;
    for (const auto& part : SplitComponents(path)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!kept.empty() && kept.back() != "..")
                kept.pop_back();
            else if (!absolute)
                kept.push_back(part);
            continue;
        }
        kept.push_back(part);
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            result += '/';
        result += kept[i];
    }
    // Keep a trailing separator of the input ("dir/" names a directory).
    if (!kept.empty() && path.size() > 1 && path.back() == '/')
        result += '/';
    return result;
}

} // namespace

bool IsWithinLimits(const std::string& path) {
    if (path.empty() || path.size() > PATH_LIMIT)
        return false;
    for (const auto& part : SplitComponents(path))
        if (part.size() > NAME_LIMIT)
            return false;
    return true;
}

std::string Combine(const std::string& directory, const std::string& name) {
    std::string joined;
    if (!name.empty() && name[0] == '/')
        joined = name;
    else if (name.empty())
        joined = directory;
    else if (directory.empty())
        joined = Normalise(name);
    else
        joined = Normalise(directory + "/" + name);
    if (joined.empty() && !directory.empty())
        joined = ".";
    if (!joined.empty() && !IsWithinLimits(joined))
        return {};
    return joined;
}

std::string RemoveFileSpec(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

} // namespace qpaths
