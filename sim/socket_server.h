#pragma once

// The raw SOCKET server: program messages end at LF, responses go back as the
// instrument sends them (a raw binary reply has no terminator).

#include "sim/faults.h"
#include "sim/net.h"
#include "sim/sim_instrument.h"
#include "sim/tcp_listener.h"
#include "sim/transcript.h"

#include <cstdint>
#include <string>

namespace quarvel::sim {

class SocketServer {
public:
    SocketServer(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults,
                 const StopSignal& stop)
        : m_instrument(instrument), m_transcript(transcript), m_faults(faults), m_stop(stop),
          m_listener(stop) {}
    ~SocketServer() { Stop(); }
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Binds and starts accepting; false with error text on failure.
    bool Start(const std::string& address, std::uint16_t port, std::string& error);
    std::uint16_t Port() const { return m_listener.Port(); }
    // Returns after the stop signal was raised and every connection ended.
    void Stop() { m_listener.Stop(); }

private:
    void Serve(int fd);

    SimInstrument& m_instrument;
    Transcript* m_transcript;
    const FaultOptions& m_faults;
    const StopSignal& m_stop;
    TcpListener m_listener;
};

} // namespace quarvel::sim
