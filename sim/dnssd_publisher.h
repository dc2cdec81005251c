#pragma once

// Announces the simulator's services by DNS-SD (quarvel-sim --publish)
// through the Avahi daemon, as LXI instruments announce theirs: _hislip._tcp,
// _vxi-11._tcp (the portmapper's port) and _scpi-raw._tcp. The services name
// a host record of their own (quarvel-sim-<pid>.local) with the simulator's
// loopback address, so simulators on 127.0.0.2 and 127.0.0.3 resolve to their
// own addresses.
//
// The records are published by Avahi's own tool, avahi-publish (Debian's
// avahi-utils), one child process per record, which keeps them for as long as
// it runs: the simulator links no Avahi client and no D-Bus (docs/design.md,
// "Layers"). The children end with the publisher (SIGTERM, then SIGKILL after
// a second; each is reaped), and with the simulator's main thread should the
// simulator be killed (PR_SET_PDEATHSIG). The daemon answers later: a thread
// reads what the tools print and the report callback gets "dnssd published"
// once every record is established, or "dnssd failed: <why>" (a tool that
// ended, its last line; a name collision).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quarvel::sim {

struct DnssdService {
    std::string type; // "_hislip._tcp"
    std::uint16_t port = 0;
};

class DnssdPublisher {
public:
    using Report = std::function<void(const std::string& line)>;
    DnssdPublisher();
    ~DnssdPublisher();
    DnssdPublisher(const DnssdPublisher&) = delete;
    DnssdPublisher& operator=(const DnssdPublisher&) = delete;

    // False with a message when avahi-publish cannot be found or started.
    // Call from the thread that lives as long as the process (the children
    // are told to end when the thread that started them ends).
    bool Start(const std::string& instanceName, const std::string& address,
               std::vector<DnssdService> services, Report report, std::string& error);

    struct State; // the children and the thread that reads them (dnssd_publisher.cpp)

private:
    std::unique_ptr<State> m_state;
};

} // namespace quarvel::sim
