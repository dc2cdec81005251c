#pragma once

// A loopback TCP listener of the simulator: its accept thread hands every
// connection to a thread of its own until the stop signal is raised.

#include "sim/net.h"

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace quarvel::sim {

class TcpListener {
public:
    explicit TcpListener(const StopSignal& stop) : m_stop(stop) {}
    ~TcpListener() { Stop(); }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds port (0: a free one); false with error text.
    bool Listen(const std::string& address, std::uint16_t port, std::string& error);
    // Starts accepting; serve runs on the connection's own thread and must
    // not close its socket.
    void Accept(std::function<void(int fd)> serve);
    std::uint16_t Port() const { return m_port; }
    // Returns after the stop signal was raised and every connection ended.
    void Stop();

private:
    const StopSignal& m_stop;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::thread m_acceptThread;
    ConnectionPool m_connections;
};

} // namespace quarvel::sim
