#pragma once

// The raw SOCKET server: program messages end at LF, responses go back as the
// instrument sends them (a raw binary reply has no terminator).

#include "sim/faults.h"
#include "sim/net.h"
#include "sim/sim_instrument.h"
#include "sim/transcript.h"

#include <cstdint>
#include <string>
#include <thread>

namespace quarvel::sim {

class SocketServer {
public:
    SocketServer(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults,
                 const StopSignal& stop)
        : m_instrument(instrument), m_transcript(transcript), m_faults(faults), m_stop(stop) {}
    ~SocketServer() { Stop(); }
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Binds and starts accepting; false with error text on failure.
    bool Start(const std::string& address, std::uint16_t port, std::string& error);
    std::uint16_t Port() const { return m_port; }
    // Returns after the stop signal was raised and every connection ended.
    void Stop();

private:
    void AcceptLoop();
    void Serve(int fd);

    SimInstrument& m_instrument;
    Transcript* m_transcript;
    const FaultOptions& m_faults;
    const StopSignal& m_stop;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::thread m_acceptThread;
    ConnectionPool m_connections;
};

} // namespace quarvel::sim
