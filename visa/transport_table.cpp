#include "visa/transport_table.h"

#include "visa/builtin_transports.h"
#include "visa/resource_forms.h"
#include "visa/transport_registry.h"

#include <algorithm>
#include <thread>

namespace quarvel::visa {

namespace {

// One row per transport: the form of the strings it takes (resource_forms.h,
// where BuiltinResourceForms() lists them in this order), how it opens them,
// what it finds. Serial ("ASRL") would be one more row; interfaces without a
// row go to a VISA library loaded at run time (visa_library.h). HiSLIP follows
// VXI-11 so that it is tried first for "TCPIP::host::device::INSTR"; it takes
// only "hislipN" devices.
const TransportRow kBuiltinRows[] = {
    {&kVxi11Form, OpenVxi11Transport, FindVxi11Resources},
    // DNS-SD names HiSLIP, VXI-11 and raw socket services alike; it is one
    // lister, listed once.
    {&kHislipForm, OpenHislipTransport, FindDnssdResources},
    {&kSocketForm, OpenSocketTransport, FindDnssdResources},
    {&kUsbForm, OpenUsbTransport, FindUsbResources},
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
    const std::vector<TransportRow> rows = AllRows();
    std::vector<const ResourceForm*> forms;
    for (const TransportRow& r : rows)
        forms.push_back(r.form);
    const ResourceForm* form = nullptr;
    ResourceName parsed;
    if (const ViStatus s = ParseResourceNameByForms(text, forms, parsed, &form); s != VI_SUCCESS)
        return s;
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [&](const TransportRow& r) { return r.form == form; });
    name = std::move(parsed);
    if (row)
        *row = *it;
    return VI_SUCCESS;
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
        return ResourceKeyword(interfaceType) == row.form->interfaceType;
    });
}

} // namespace quarvel::visa
