// Finding VXI-11 instruments: the portmapper's GETPORT for the VXI-11 core
// program, sent as UDP datagrams to the broadcast address of every interface
// (method "broadcast") and to each host named for a probe (method "probe").
// Every host whose portmapper knows the program is listed as
// TCPIP0::host::inst0::INSTR. Instruments' portmappers answer GETPORT over
// UDP (the LXI and VXI-11 discovery way), so one socket asks a whole network
// at once and collects the answers for a bounded time.

#include "codec/oncrpc.h"
#include "visa/builtin_transports.h"
#include "visa/discovery.h"
#include "visa/rpc_client.h"
#include "visa/udp_socket.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace quarvel::visa {

namespace {

// A GETPORT reply is 28 bytes; anything much longer is not one.
constexpr std::size_t kMaxReplyDatagram = 512;

struct Targets {
    std::vector<std::uint32_t> probed;
    std::vector<InterfaceBroadcast> broadcasts;
};

// Host names are resolved by `deadline` (the listening time's end).
Targets CollectTargets(const SessionSettings& settings, Deadline deadline) {
    Targets targets;
    if ((settings.discoveryMethods & kDiscoverProbe) != 0) {
        std::vector<std::uint32_t> hosts;
        std::vector<std::string> names;
        // The attribute's text was checked when it was set.
        if (!settings.probeHosts.empty())
            ParseProbeHosts(settings.probeHosts, hosts, &names);
        if (const char* env = std::getenv("QUARVEL_PROBE"); env != nullptr && *env != '\0') {
            if (!ParseProbeHosts(env, hosts, &names) && settings.findNotes != nullptr)
                settings.findNotes->Add("probe: QUARVEL_PROBE is not a list of IPv4 hosts, "
                                        "ranges, networks or host names of at most " +
                                        std::to_string(kMaxProbeHosts) + " hosts; ignored");
        }
        std::vector<std::string> unresolved;
        ResolveProbeNames(names, deadline, hosts, unresolved);
        for (const std::string& name : unresolved)
            if (settings.findNotes != nullptr)
                settings.findNotes->Add("probe: " + name + " has no IPv4 address (in time)");
        std::sort(hosts.begin(), hosts.end());
        hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
        if (hosts.size() > kMaxProbeHosts)
            hosts.resize(kMaxProbeHosts);
        targets.probed = std::move(hosts);
        if (targets.probed.empty() && settings.findNotes != nullptr)
            settings.findNotes->Add("probe: no hosts named (QVI_ATTR_PROBE_HOSTS, QUARVEL_PROBE)");
    }
    if ((settings.discoveryMethods & kDiscoverBroadcast) != 0) {
        targets.broadcasts = InterfaceBroadcastAddresses();
        if (targets.broadcasts.empty() && settings.findNotes != nullptr)
            settings.findNotes->Add("broadcast: no IPv4 interface is up and can broadcast");
    }
    return targets;
}

} // namespace

void FindVxi11Resources(const SessionSettings& settings, Deadline deadline,
                        std::vector<std::string>& found) {
    if ((settings.discoveryMethods & (kDiscoverBroadcast | kDiscoverProbe)) == 0)
        return;
    const Deadline listenUntil = std::min(deadline, DeadlineAfter(settings.discoveryMs));
    const Targets targets = CollectTargets(settings, listenUntil);
    if (targets.probed.empty() && targets.broadcasts.empty())
        return;
    std::unique_ptr<UdpSocket> socket = UdpSocket::Open(!targets.broadcasts.empty());
    if (!socket) {
        if (settings.findNotes != nullptr)
            settings.findNotes->Add("broadcast, probe: cannot open a UDP socket");
        return;
    }
    const std::uint32_t xid = NewXidBase();
    const rpc::Bytes call = rpc::EncodeGetPortDatagram(
        xid, {rpc::kVxi11CoreProgram, rpc::kVxi11CoreVersion, rpc::kIpProtoTcp, 0});
    std::size_t sent = 0;
    for (const InterfaceBroadcast& b : targets.broadcasts) {
        const bool ok = socket->SendTo(b.address, settings.portmapperPort, call, listenUntil);
        if (settings.findNotes != nullptr)
            settings.findNotes->Add("broadcast: GETPORT to " + Ipv4Text(b.address) + " (" +
                                    b.interfaceName + ")" + (ok ? "" : " could not be sent"));
    }
    for (std::uint32_t host : targets.probed)
        sent += socket->SendTo(host, settings.portmapperPort, call, listenUntil) ? 1 : 0;

    // Unicast answers can all arrive before the time is up; broadcast ones
    // come from hosts nobody named, so only the time ends their wait.
    std::set<std::uint32_t> answered;
    std::vector<std::uint32_t> instruments;
    std::size_t probedAnswers = 0;
    std::vector<std::uint8_t> datagram;
    while ((targets.broadcasts.empty() ? probedAnswers < sent : true) && !FindCancelled(settings)) {
        datagram.resize(kMaxReplyDatagram);
        std::uint32_t from = 0;
        // In slices, so that a cancel is seen while nothing arrives.
        const Deadline slice =
            std::min(listenUntil, std::chrono::steady_clock::now() + kFindCancelPoll);
        if (!socket->Receive(datagram, from, slice)) {
            // The slice ran out (go on), the time is up or the socket failed.
            if (slice == listenUntil || std::chrono::steady_clock::now() < slice)
                break;
            continue;
        }
        std::uint32_t port = 0;
        if (!rpc::DecodeGetPortDatagram(datagram, xid, port))
            continue;
        const bool wasProbed =
            std::binary_search(targets.probed.begin(), targets.probed.end(), from);
        if (!wasProbed && targets.broadcasts.empty())
            continue;
        if (!answered.insert(from).second)
            continue;
        probedAnswers += wasProbed ? 1 : 0;
        if (port != 0)
            instruments.push_back(from);
        else if (settings.findNotes != nullptr)
            settings.findNotes->Add(Ipv4Text(from) + " answered GETPORT without VXI-11");
    }
    if (!targets.probed.empty() && settings.findNotes != nullptr)
        settings.findNotes->Add("probe: GETPORT to " + std::to_string(sent) + " of " +
                                std::to_string(targets.probed.size()) + " hosts on port " +
                                std::to_string(settings.portmapperPort) + ", " +
                                std::to_string(probedAnswers) + " answered");
    // In address order, whichever answered first.
    std::sort(instruments.begin(), instruments.end());
    for (std::uint32_t host : instruments)
        found.push_back("TCPIP0::" + Ipv4Text(host) + "::inst0::INSTR");
}

} // namespace quarvel::visa
