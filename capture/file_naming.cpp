#include "capture/file_naming.h"

#include "capture/paths.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// Conversion characters of the C library's strftime, and those it accepts
// after the E and O modifiers.
constexpr const char* kConversions = "aAbBcCdDeFgGhHIjmMnprRStTuUVwWxXyYzZ%";
constexpr const char* kEConversions = "cCxXyY";
constexpr const char* kOConversions = "deHImMSuUVwWy";

bool IsOneOf(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool ExpandOne(const std::string& specifier, const std::tm& local, std::string& out) {
    char buffer[256];
    const std::size_t n = std::strftime(buffer, sizeof buffer, specifier.c_str(), &local);
    out.append(buffer, n);
    return true;
}

} // namespace

std::size_t Utf16Length(const std::string& utf8) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = 1;
        if (lead >= 0xF0 && lead < 0xF8)
            length = 4;
        else if (lead >= 0xE0)
            length = 3;
        else if (lead >= 0xC0)
            length = 2;
        bool valid = i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (!valid || lead >= 0xF8 || (lead >= 0x80 && lead < 0xC0))
            length = 1;
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

bool ExpandTimeFormat(const std::string& pattern, std::time_t when, std::string& expanded) {
    expanded.clear();
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return true;
    std::string result;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            result += pattern[i];
            continue;
        }
        if (i + 1 >= pattern.size())
            return false;
        char c = pattern[i + 1];
        std::string specifier = "%";
        if (c == 'E' || c == 'O') {
            const char conversion = i + 2 < pattern.size() ? pattern[i + 2] : '\0';
            if (!IsOneOf(conversion, c == 'E' ? kEConversions : kOConversions))
                return false;
            specifier += c;
            specifier += conversion;
            i += 2;
        } else {
            if (!IsOneOf(c, kConversions))
                return false;
            specifier += c;
            i += 1;
        }
        ExpandOne(specifier, local, result);
    }
    if (Utf16Length(result) <= MAX_EXPANDED_PATTERN)
        expanded = result;
    return true;
}

bool BuildOutputPath(const std::string& extension, FileNaming& naming, bool withNumber,
                     std::string& path) {
    std::string expanded;
    if (!ExpandTimeFormat(naming.namePattern, std::time(nullptr), expanded))
        return false;
    std::string name = qpaths::RemoveAllExtensions(qpaths::RemoveBlanks(expanded));
    if (withNumber)
        name += "-" + FormatSequenceNumber(naming.sequenceNumber);
    if (!extension.empty())
        name = qpaths::AddExtension(name, "." + extension);
    naming.fileName = name;
    path = qpaths::Combine(naming.directory, name);
    return true;
}

NamingResult FindSequentialNames(FileNaming& naming, const std::string& imageExtension,
                                 const std::string& dataExtension, bool withData,
                                 std::string& imagePath, std::string& dataPath,
                                 const ExistsTest& exists) {
    const ExistsTest taken = exists ? exists : ExistsTest(&qpaths::Exists);
    std::string image;
    std::string data;
    if (!BuildOutputPath(imageExtension, naming, false, image))
        return NAMES_BAD_PATTERN;
    if (withData && !BuildOutputPath(dataExtension, naming, false, data))
        return NAMES_BAD_PATTERN;

    auto eitherTaken = [&] { return taken(image) || (withData && taken(data)); };
    if (!eitherTaken()) {
        naming.sequenceNumber = 1;
    } else {
        // The pattern was valid a moment ago, so these builds cannot fail.
        auto buildNumbered = [&] {
            BuildOutputPath(imageExtension, naming, true, image);
            BuildOutputPath(dataExtension, naming, true, data);
        };
        buildNumbered();
        std::uint32_t increments = 0;
        while (eitherTaken() && increments < naming.searchLimit) {
            ++naming.sequenceNumber;
            buildNumbered();
            ++increments;
        }
        if (increments >= naming.searchLimit)
            return NAMES_EXHAUSTED;
    }
    // The image's name is the one the record remembers.
    if (!image.empty())
        naming.fileName = qpaths::FileNameOf(image);
    imagePath = image;
    dataPath = withData ? data : std::string();
    return NAMES_OK;
}

FileNaming SplitChosenPath(const std::string& path) {
    FileNaming naming;
    naming.directory = qpaths::RemoveFileSpec(path);
    naming.fileName = qpaths::FileNameOf(path);
    naming.namePattern = qpaths::RemoveExtension(naming.fileName);
    return naming;
}

std::string FileNameOrLast(const FileNaming& naming, const std::string& path) {
    return path.empty() ? naming.fileName : qpaths::FileNameOf(path);
}

std::string CommentsFilePath(const FileNaming& naming) {
    return qpaths::Combine(naming.directory, qpaths::RemoveBlanks(naming.commentsFile));
}

std::string FormatSequenceNumber(std::uint32_t number) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04u", static_cast<unsigned>(number));
    return buffer;
}

std::uint32_t ParseSequenceText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    std::uint64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > 0xFFFFFFFFu)
            return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(value);
}
