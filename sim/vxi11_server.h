#pragma once

// The VXI-11 servers: the core channel on a free loopback port and a
// portmapper (TCP and UDP on the same port) that tells clients where it is.

#include "sim/faults.h"
#include "sim/net.h"
#include "sim/sim_instrument.h"
#include "sim/tcp_listener.h"
#include "sim/transcript.h"
#include "sim/vxi11_service.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace quarvel::sim {

class Vxi11Server {
public:
    Vxi11Server(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults,
                const StopSignal& stop)
        : m_instrument(instrument), m_transcript(transcript), m_faults(faults), m_stop(stop),
          m_core(stop), m_portmap(stop) {}
    ~Vxi11Server() { Stop(); }
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    // Core channel on a free port of address.
    bool StartCore(const std::string& address, std::string& error);
    // Portmapper on port (0: a free one), TCP and UDP.
    bool StartPortmapper(const std::string& address, std::uint16_t port, std::string& error);

    std::uint16_t CorePort() const { return m_core.Port(); }
    std::uint16_t PortmapperPort() const { return m_portmap.Port(); }
    // Returns after the stop signal was raised and every connection ended.
    void Stop();

private:
    void ServeCore(int fd);
    void ServePortmapTcp(int fd);
    void ServePortmapUdp();

    SimInstrument& m_instrument;
    Transcript* m_transcript;
    const FaultOptions& m_faults;
    const StopSignal& m_stop;
    std::unique_ptr<Vxi11Service> m_service;
    TcpListener m_core;
    TcpListener m_portmap;
    int m_portmapUdpFd = -1;
    std::thread m_portmapUdp;
};

} // namespace quarvel::sim
