#include "visa/udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quarvel::visa {

namespace {

int MillisecondsUntil(Deadline deadline) {
    if (deadline == Deadline::max())
        return -1;
    // Rounded up: a wait that timed out has reached its deadline.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

} // namespace

std::unique_ptr<UdpSocket> UdpSocket::Open(bool broadcast) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    const int on = 1;
    if (broadcast && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<UdpSocket>(new UdpSocket(fd));
}

UdpSocket::~UdpSocket() {
    close(m_fd);
}

bool UdpSocket::Wait(short events, Deadline deadline) {
    for (;;) {
        pollfd p{m_fd, events, 0};
        const int n = poll(&p, 1, MillisecondsUntil(deadline));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

bool UdpSocket::SendTo(std::uint32_t address, std::uint16_t port,
                       std::span<const std::uint8_t> data, Deadline deadline) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    for (;;) {
        const ssize_t n = sendto(m_fd, data.data(), data.size(), MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n >= 0)
            return static_cast<std::size_t>(n) == data.size();
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS) ||
            !Wait(POLLOUT, deadline))
            return false;
    }
}

bool UdpSocket::Receive(std::vector<std::uint8_t>& data, std::uint32_t& from, Deadline deadline) {
    for (;;) {
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t n = recvfrom(m_fd, data.data(), data.size(), 0,
                                   reinterpret_cast<sockaddr*>(&sender), &length);
        if (n >= 0) {
            data.resize(static_cast<std::size_t>(n));
            from = ntohl(sender.sin_addr.s_addr);
            return true;
        }
        // An earlier datagram's ICMP error (port unreachable) is reported
        // here on some systems; it says nothing about the next answer.
        if (errno == EINTR || errno == ECONNREFUSED)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLIN, deadline))
            return false;
    }
}

std::vector<InterfaceBroadcast> InterfaceBroadcastAddresses() {
    std::vector<InterfaceBroadcast> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
            (i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK) != 0 ||
            (i->ifa_flags & IFF_BROADCAST) == 0 || i->ifa_broadaddr == nullptr)
            continue;
        const auto* broadcast = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr);
        found.push_back({i->ifa_name, ntohl(broadcast->sin_addr.s_addr)});
    }
    freeifaddrs(list);
    return found;
}

} // namespace quarvel::visa
