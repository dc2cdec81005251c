#include "visa/transport_table.h"

#include "visa/builtin_transports.h"
#include "visa/transport_registry.h"

#include <algorithm>
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

// The built-in rows, then the registered ones (which take precedence).
std::vector<TransportRow> AllRows() {
    std::vector<TransportRow> rows(std::begin(kBuiltinRows), std::end(kBuiltinRows));
    const std::vector<TransportRow> registered = RegisteredTransports();
    rows.insert(rows.end(), registered.begin(), registered.end());
    return rows;
}

} // namespace

ViStatus ParseResourceName(std::string_view text, ResourceName& name, TransportRow* row) {
    ResourceName parsed;
    bool lastFieldBracketed = false;
    if (const ViStatus s = SplitResourceName(text, parsed, lastFieldBracketed); s != VI_SUCCESS)
        return s;
    const std::vector<std::string> rest = std::move(parsed.fields);
    const std::string& interfaceType = parsed.interfaceType;

    const std::vector<TransportRow> rows = AllRows();
    const std::string lastUpper = ResourceKeyword(rest.back());
    // Rows that name the class written last come first, then the interface's
    // default rows; later rows take precedence. Several rows may share an
    // interface and class (VXI-11 and HiSLIP are both TCPIP INSTR): the first
    // whose fields fit takes the string.
    std::vector<std::pair<const TransportRow*, bool>> candidates;
    if (!lastFieldBracketed)
        for (auto it = rows.rbegin(); it != rows.rend(); ++it)
            if (interfaceType == it->interfaceType && lastUpper == it->resourceClass)
                candidates.emplace_back(&*it, true);
    if (candidates.empty())
        for (auto it = rows.rbegin(); it != rows.rend(); ++it)
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

std::vector<std::string> FindResources(const SessionSettings& settings, Deadline deadline) {
    std::vector<ResourceLister> listers;
    for (const TransportRow& row : AllRows())
        if (row.find != nullptr &&
            std::find(listers.begin(), listers.end(), row.find) == listers.end())
            listers.push_back(row.find);
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

bool HasTransportFor(std::string_view interfaceType) {
    const std::vector<TransportRow> rows = AllRows();
    return std::any_of(rows.begin(), rows.end(), [&](const TransportRow& row) {
        return ResourceKeyword(interfaceType) == row.interfaceType;
    });
}

} // namespace quarvel::visa
