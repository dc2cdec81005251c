#include "visa/resource_name.h"

#include "visa/ascii.h"
#include "visa/builtin_transports.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <thread>

namespace quarvel::visa {

namespace {

// One row per transport. Serial ("ASRL") would be one more row; interfaces
// without a row go to a VISA library loaded at run time (visa_library.h). HiSLIP follows VXI-11 so
// that it is tried first for "TCPIP::host::device::INSTR"; it takes only "hislipN" devices.
const TransportRow kBuiltinRows[] = {
    {"TCPIP", VI_INTF_TCPIP, "INSTR", true, 1, 2, InterpretVxi11Fields, OpenVxi11Transport,
     FindVxi11Resources},
    // DNS-SD names HiSLIP, VXI-11 and raw socket services alike; it is one
    // lister, listed once.
    {"TCPIP", VI_INTF_TCPIP, "INSTR", true, 2, 2, InterpretHislipFields, OpenHislipTransport,
     FindDnssdResources},
    {"TCPIP", VI_INTF_TCPIP, "SOCKET", false, 2, 2, InterpretSocketFields, OpenSocketTransport,
     FindDnssdResources},
    {"USB", VI_INTF_USB, "INSTR", true, 3, 4, InterpretUsbFields, OpenUsbTransport,
     FindUsbResources},
};

struct Registry {
    std::mutex mutex;
    std::vector<TransportRow> rows{std::begin(kBuiltinRows), std::end(kBuiltinRows)};
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

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

ViStatus ParseResourceName(std::string_view text, ResourceName& name, TransportRow* row) {
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

    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    const std::string lastUpper = ascii::ToUpper(rest.back());
    // Rows that name the class written last come first, then the interface's
    // default rows; later rows take precedence. Several rows may share an
    // interface and class (VXI-11 and HiSLIP are both TCPIP INSTR): the first
    // whose fields fit takes the string.
    std::vector<std::pair<const TransportRow*, bool>> candidates;
    if (!restBracketed.back())
        for (auto it = registry.rows.rbegin(); it != registry.rows.rend(); ++it)
            if (interfaceType == it->interfaceType && lastUpper == it->resourceClass)
                candidates.emplace_back(&*it, true);
    if (candidates.empty())
        for (auto it = registry.rows.rbegin(); it != registry.rows.rend(); ++it)
            if (interfaceType == it->interfaceType && it->defaultClass)
                candidates.emplace_back(&*it, false);
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
        if (row)
            *row = *candidate;
        return VI_SUCCESS;
    }
    return VI_ERROR_INV_RSRC_NAME;
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

std::vector<std::string> FindResources(const SessionSettings& settings, Deadline deadline) {
    std::vector<ResourceLister> listers;
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        for (const TransportRow& row : registry.rows)
            if (row.find != nullptr &&
                std::find(listers.begin(), listers.end(), row.find) == listers.end())
                listers.push_back(row.find);
    }
    // Each lister waits for its own network (USB/IP servers, UDP answers,
    // the DNS-SD daemon): side by side the search takes the longest of them,
    // not their sum. The results keep table order.
    std::vector<std::vector<std::string>> results(listers.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < listers.size(); ++i)
        threads.emplace_back([&, i] { listers[i](settings, deadline, results[i]); });
    if (!listers.empty())
        listers[0](settings, deadline, results[0]);
    for (std::thread& t : threads)
        t.join();
    std::vector<std::string> unique;
    for (std::vector<std::string>& names : results)
        for (std::string& name : names)
            if (std::find(unique.begin(), unique.end(), name) == unique.end())
                unique.push_back(std::move(name));
    return MergeLanDuplicates(std::move(unique));
}

std::vector<std::string> MergeLanDuplicates(std::vector<std::string> names) {
    // The protocols one host may be found by, best first: HiSLIP (device
    // clear and status over a second channel), VXI-11, raw socket.
    const auto rank = [](const std::string& text, std::string& host) {
        ResourceName name;
        TransportRow row{};
        if (ParseResourceName(text, name, &row) != VI_SUCCESS || name.interfaceType != "TCPIP")
            return -1;
        host = name.host;
        if (name.resourceClass == "SOCKET")
            return 2;
        return IsHislipDeviceName(name.device) ? 0 : 1;
    };
    std::vector<std::pair<std::string, int>> best; // host, best rank found
    std::vector<int> ranks(names.size());
    std::vector<std::string> hosts(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        ranks[i] = rank(names[i], hosts[i]);
        if (ranks[i] < 0)
            continue;
        const auto it = std::find_if(best.begin(), best.end(),
                                     [&](const auto& b) { return b.first == hosts[i]; });
        if (it == best.end())
            best.emplace_back(hosts[i], ranks[i]);
        else
            it->second = std::min(it->second, ranks[i]);
    }
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool better =
            ranks[i] >= 0 && std::any_of(best.begin(), best.end(), [&](const auto& b) {
                return b.first == hosts[i] && b.second < ranks[i];
            });
        if (!better)
            kept.push_back(std::move(names[i]));
    }
    return kept;
}

void RegisterTransport(const TransportRow& row) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.rows.push_back(row);
}

bool HasTransportFor(std::string_view interfaceType) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return std::any_of(registry.rows.begin(), registry.rows.end(), [&](const TransportRow& row) {
        return ascii::ToUpper(interfaceType) == row.interfaceType;
    });
}

} // namespace quarvel::visa
