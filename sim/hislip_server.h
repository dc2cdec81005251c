#pragma once

// The HiSLIP server: one loopback port for both channels of every session;
// the first message of a connection tells which channel it is. The message
// handling is HislipService's; this file moves the bytes, waits out delayed
// and stalled replies (a device clear or a new message ends the wait) and
// applies the HiSLIP fault options.

#include "sim/faults.h"
#include "sim/hislip_service.h"
#include "sim/net.h"
#include "sim/sim_instrument.h"
#include "sim/tcp_listener.h"
#include "sim/transcript.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarvel::sim {

class HislipServer {
public:
    HislipServer(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults,
                 const StopSignal& stop)
        : m_faults(faults), m_stop(stop), m_service(instrument, transcript, faults),
          m_listener(stop) {}
    ~HislipServer() { Stop(); }
    HislipServer(const HislipServer&) = delete;
    HislipServer& operator=(const HislipServer&) = delete;

    // Binds port (0: a free one) and starts accepting; false with error text.
    bool Start(const std::string& address, std::uint16_t port, std::string& error);
    std::uint16_t Port() const { return m_listener.Port(); }
    // Returns after the stop signal was raised and every connection ended.
    void Stop() { m_listener.Stop(); }

private:
    void Serve(int fd);
    void ServeSync(int fd, HislipSessionState& session);
    void ServeAsync(int fd, HislipSessionState& session);
    // False when the connection must close (a fault, the peer gone, stopping).
    bool SendResponse(int fd, HislipSessionState& session, const HislipResponse& response);

    const FaultOptions& m_faults;
    const StopSignal& m_stop;
    HislipService m_service;
    TcpListener m_listener;
};

} // namespace quarvel::sim
