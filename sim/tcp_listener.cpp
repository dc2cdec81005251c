#include "sim/tcp_listener.h"

#include <sys/socket.h>

#include <utility>

namespace quarvel::sim {

bool TcpListener::Listen(const std::string& address, std::uint16_t port, std::string& error) {
    BoundSocket s = ListenTcp(address, port);
    if (s.fd < 0) {
        error = s.error;
        return false;
    }
    m_listenFd = s.fd;
    m_port = s.port;
    return true;
}

void TcpListener::Accept(std::function<void(int fd)> serve) {
    m_acceptThread = std::thread([this, serve = std::move(serve)] {
        while (WaitReadable(m_listenFd, m_stop, -1) == WaitResult::Ready) {
            const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                m_connections.Start(fd, serve);
        }
    });
}

void TcpListener::Stop() {
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    m_connections.StopAll();
    CloseFd(m_listenFd);
}

} // namespace quarvel::sim
