#include "visa/resource_name.h"

#include "visa/ascii.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace quarvel::visa {

namespace {

bool IsFieldChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7F;
}

// Splits at "::"; a field that starts with '[' runs to its ']' (IPv6).
bool SplitFields(std::string_view text, std::vector<std::string>& fields,
                 std::vector<bool>& bracketed) {
    std::size_t pos = 0;
    for (;;) {
        std::string field;
        bool brackets = false;
        if (pos < text.size() && text[pos] == '[') {
            const std::size_t close = text.find(']', pos);
            if (close == std::string_view::npos)
                return false;
            field = std::string(text.substr(pos + 1, close - pos - 1));
            brackets = true;
            pos = close + 1;
            if (pos < text.size() && text.substr(pos, 2) != "::")
                return false;
        } else {
            const std::size_t sep = text.find("::", pos);
            const std::size_t end = sep == std::string_view::npos ? text.size() : sep;
            field = std::string(text.substr(pos, end - pos));
            pos = end;
        }
        if (field.empty() || !std::all_of(field.begin(), field.end(), IsFieldChar))
            return false;
        if (!brackets && field.find_first_of("[]") != std::string::npos)
            return false;
        fields.push_back(std::move(field));
        bracketed.push_back(brackets);
        if (pos == text.size())
            return true;
        pos += 2; // "::"
        if (pos == text.size())
            return false; // trailing "::"
    }
}

} // namespace

ViStatus SplitResourceName(std::string_view text, ResourceName& name, bool& lastFieldBracketed) {
    constexpr std::size_t kMaxResourceName = 1024;
    if (text.empty() || text.size() > kMaxResourceName)
        return VI_ERROR_INV_RSRC_NAME;
    std::vector<std::string> fields;
    std::vector<bool> bracketed;
    if (!SplitFields(text, fields, bracketed) || bracketed[0])
        return VI_ERROR_INV_RSRC_NAME;

    // Interface keyword and optional board number: "TCPIP", "tcpip0", "TCPIP12".
    const std::string& first = fields[0];
    const std::size_t digitsAt =
        std::find_if(first.begin(), first.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) -
        first.begin();
    const std::string interfaceType = ascii::ToUpper(first.substr(0, digitsAt));
    const std::string boardText = first.substr(digitsAt);
    if (interfaceType.empty() || boardText.size() > 4 ||
        !std::all_of(interfaceType.begin(), interfaceType.end(),
                     [](char c) { return c >= 'A' && c <= 'Z'; }) ||
        !std::all_of(boardText.begin(), boardText.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return VI_ERROR_INV_RSRC_NAME;

    ResourceName parsed;
    parsed.interfaceType = interfaceType;
    parsed.board = boardText.empty() ? 0u : static_cast<unsigned>(std::stoul(boardText));
    std::vector<std::string> rest(fields.begin() + 1, fields.end());
    std::vector<bool> restBracketed(bracketed.begin() + 1, bracketed.end());
    if (rest.empty())
        return VI_ERROR_INV_RSRC_NAME;
    // Only the host (the first field after the interface) may be bracketed.
    for (std::size_t i = 1; i < restBracketed.size(); ++i)
        if (restBracketed[i])
            return VI_ERROR_INV_RSRC_NAME;

    parsed.fields = std::move(rest);
    lastFieldBracketed = restBracketed.back();
    name = std::move(parsed);
    return VI_SUCCESS;
}

std::string ResourceKeyword(std::string_view text) {
    return ascii::ToUpper(text);
}

std::string CanonicalResourceName(const ResourceName& name) {
    std::string text = name.interfaceType + std::to_string(name.board);
    // USB IDs are written in hex, however they were given.
    if (name.interfaceType == "USB" && name.fields.size() >= 3) {
        char ids[32];
        std::snprintf(ids, sizeof ids, "::0x%04X::0x%04X", name.manufacturerId, name.modelCode);
        text += ids;
        for (std::size_t i = 2; i < name.fields.size(); ++i)
            text += "::" + name.fields[i];
        return text + "::" + name.resourceClass;
    }
    for (std::size_t i = 0; i < name.fields.size(); ++i) {
        const std::string& field = name.fields[i];
        // Only the host may hold colons (IPv6); it is bracketed again.
        const bool bracket = i == 0 && field.find(':') != std::string::npos;
        text += bracket ? "::[" + field + "]" : "::" + field;
    }
    return text + "::" + name.resourceClass;
}

ViStatus ParseResourceNameByForms(std::string_view text,
                                  const std::vector<const ResourceForm*>& forms, ResourceName& name,
                                  const ResourceForm** chosen) {
    ResourceName parsed;
    bool lastFieldBracketed = false;
    if (const ViStatus s = SplitResourceName(text, parsed, lastFieldBracketed); s != VI_SUCCESS)
        return s;
    const std::vector<std::string> rest = std::move(parsed.fields);
    const std::string& interfaceType = parsed.interfaceType;
    const std::string lastUpper = ResourceKeyword(rest.back());
    std::vector<std::pair<const ResourceForm*, bool>> candidates;
    if (!lastFieldBracketed)
        for (auto it = forms.rbegin(); it != forms.rend(); ++it)
            if (interfaceType == (*it)->interfaceType && lastUpper == (*it)->resourceClass)
                candidates.emplace_back(*it, true);
    if (candidates.empty())
        for (auto it = forms.rbegin(); it != forms.rend(); ++it)
            if (interfaceType == (*it)->interfaceType && (*it)->defaultClass)
                candidates.emplace_back(*it, false);
    for (const auto& [candidate, namedClass] : candidates) {
        std::vector<std::string> candidateFields = rest;
        if (namedClass)
            candidateFields.pop_back();
        if (candidateFields.size() < candidate->minFields ||
            candidateFields.size() > candidate->maxFields)
            continue;
        ResourceName attempt = parsed;
        attempt.resourceClass = candidate->resourceClass;
        attempt.fields = std::move(candidateFields);
        if (!candidate->interpret(attempt))
            continue;
        name = std::move(attempt);
        if (chosen)
            *chosen = candidate;
        return VI_SUCCESS;
    }
    return VI_ERROR_INV_RSRC_NAME;
}

} // namespace quarvel::visa
