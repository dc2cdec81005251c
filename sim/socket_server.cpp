#include "sim/socket_server.h"

#include "sim/session.h"

#include <sys/socket.h>

#include <vector>

namespace quarvel::sim {

bool SocketServer::Start(const std::string& address, std::uint16_t port, std::string& error) {
    if (!m_listener.Listen(address, port, error))
        return false;
    m_listener.Accept([this](int fd) { Serve(fd); });
    return true;
}

void SocketServer::Serve(int fd) {
    Session session(m_instrument, m_transcript, m_faults);
    session.SetTerminateRawReplies(true);
    std::vector<char> buffer(64 * 1024);
    while (WaitReadable(fd, m_stop, -1) == WaitResult::Ready) {
        const ssize_t n = Receive(fd, buffer.data(), buffer.size());
        if (n <= 0)
            return;
        for (const OutgoingReply& reply :
             session.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), false)) {
            if (!m_stop.Sleep(reply.delayMs))
                return;
            const bool drop = reply.dropAfter != std::string::npos;
            const std::string_view bytes =
                std::string_view(reply.bytes).substr(0, drop ? reply.dropAfter : std::string::npos);
            if (!SendAll(fd, bytes, Pacing(m_faults), m_stop))
                return;
            if (drop) {
                shutdown(fd, SHUT_RDWR);
                return;
            }
        }
    }
}

} // namespace quarvel::sim
