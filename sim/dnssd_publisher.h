#pragma once

// Announces the simulator's services by DNS-SD (quarvel-sim --publish)
// through the Avahi daemon, as LXI instruments announce theirs: _hislip._tcp,
// _vxi-11._tcp (the portmapper's port) and _scpi-raw._tcp. The services name
// a host record of their own (quarvel-sim-<pid>.local) with the simulator's
// loopback address, so simulators on 127.0.0.2 and 127.0.0.3 resolve to their
// own addresses. The daemon answers later, on its own thread: the report
// callback gets "dnssd published" once the records are established, or
// "dnssd failed: <why>".

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

    // False with a message when the daemon cannot be reached at all.
    bool Start(const std::string& instanceName, const std::string& address,
               std::vector<DnssdService> services, Report report, std::string& error);

    struct State; // the daemon's callbacks' view (dnssd_publisher.cpp)

private:
    std::unique_ptr<State> m_state;
};

} // namespace quarvel::sim
