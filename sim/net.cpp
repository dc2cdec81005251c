#include "sim/net.h"

#include "sim/pcap_recorder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace quarvel::sim {

StopSignal::StopSignal() {
    m_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

StopSignal::~StopSignal() {
    if (m_fd >= 0)
        close(m_fd);
}

void StopSignal::Raise() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(m_fd, &one, sizeof one);
}

bool StopSignal::Raised() const {
    pollfd p{m_fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

bool StopSignal::Sleep(int ms) const {
    if (ms <= 0)
        return !Raised();
    pollfd p{m_fd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return true;
        const int r = poll(&p, 1, static_cast<int>(left));
        if (r > 0)
            return false;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

WaitResult WaitReadable(int fd, const StopSignal& stop, int timeoutMs) {
    pollfd p[2] = {{fd, POLLIN, 0}, {stop.Fd(), POLLIN, 0}};
    while (true) {
        const int r = poll(p, 2, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return WaitResult::Error;
        if (r == 0)
            return WaitResult::Timeout;
        if (p[1].revents != 0)
            return WaitResult::Stopped;
        return WaitResult::Ready;
    }
}

bool IsLoopbackAddress(const std::string& address) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) == 1)
        return (ntohl(a.s_addr) >> 24) == 127;
    in6_addr a6{};
    return inet_pton(AF_INET6, address.c_str(), &a6) == 1 && IN6_IS_ADDR_LOOPBACK(&a6);
}

namespace {

BoundSocket Bind(const std::string& address, std::uint16_t port, int type) {
    BoundSocket result;
    sockaddr_storage storage{};
    socklen_t size = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (!IsLoopbackAddress(address)) {
        result.error = "not a loopback address: " + address;
        return result;
    }
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        size = sizeof *v4;
    } else if (type == SOCK_STREAM && inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        size = sizeof *v6;
    } else {
        // The datagram services (the portmapper's UDP side, discovery
        // answers) and their recordings are IPv4 only.
        result.error = "UDP is served on IPv4 only: " + address;
        return result;
    }
    int fd = socket(storage.ss_family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        result.error = std::string("socket: ") + std::strerror(errno);
        return result;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), size) != 0 ||
        (type == SOCK_STREAM && listen(fd, 16) != 0)) {
        result.error = address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return result;
    }
    socklen_t len = size;
    getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &len);
    result.fd = fd;
    result.port = ntohs(storage.ss_family == AF_INET6 ? v6->sin6_port : v4->sin_port);
    return result;
}

} // namespace

BoundSocket ListenTcp(const std::string& address, std::uint16_t port) {
    return Bind(address, port, SOCK_STREAM);
}

BoundSocket BindUdp(const std::string& address, std::uint16_t port) {
    return Bind(address, port, SOCK_DGRAM);
}

bool SendAll(int fd, std::string_view data, const SendPacing& pacing, const StopSignal& stop) {
    const std::size_t pieceSize = pacing.pieceSize;
    if (pieceSize > 0) {
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    std::size_t step = pieceSize > 0 ? pieceSize : data.size();
    const std::size_t rate = pacing.bytesPerSecond;
    // A rate limit sends a piece every 20 ms or so.
    if (rate > 0)
        step = std::min(step, std::clamp<std::size_t>(rate / 50, 1, 64 * 1024));
    const auto start = std::chrono::steady_clock::now();
    std::size_t done = 0;
    std::size_t recorded = 0; // --pcap sees each piece once, before it goes
    while (done < data.size()) {
        const std::size_t want = std::min(step, data.size() - done);
        if (done + want > recorded && pcap::Recording()) {
            const std::string_view piece = data.substr(recorded, done + want - recorded);
            pcap::Sent(fd, {&piece, 1});
            recorded = done + want;
        }
        const ssize_t n = send(fd, data.data() + done, want, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
        if (done == data.size())
            break;
        if (rate > 0) {
            // Paced from the start, so that rounding does not add up.
            const auto due = start + std::chrono::microseconds(
                                         static_cast<long long>(done * 1'000'000.0 / rate));
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                due - std::chrono::steady_clock::now());
            if (!stop.Sleep(static_cast<int>(wait.count())))
                return false;
        } else if (pieceSize > 0) {
            // A short pause lets each piece leave as its own segment.
            if (stop.Raised())
                return false;
            usleep(200);
        }
    }
    return true;
}

bool SendGathered(int fd, std::string_view head, std::string_view body, const StopSignal& stop) {
    const std::string_view parts[] = {head, body};
    return SendGathered(fd, parts, stop);
}

bool SendGathered(int fd, std::span<const std::string_view> parts, const StopSignal& stop) {
    if (parts.size() > kMaxGatheredParts)
        return false;
    if (pcap::Recording())
        pcap::Sent(fd, parts);
    iovec iov[kMaxGatheredParts];
    std::size_t count = 0;
    for (const std::string_view part : parts)
        if (!part.empty())
            iov[count++] = {const_cast<char*>(part.data()), part.size()};
    std::size_t first = 0;
    while (first < count) {
        msghdr msg{};
        msg.msg_iov = iov + first;
        msg.msg_iovlen = count - first;
        const ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || stop.Raised())
            return false;
        std::size_t left = static_cast<std::size_t>(n);
        while (first < count && left >= iov[first].iov_len) {
            left -= iov[first].iov_len;
            ++first;
        }
        if (first < count) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return true;
}

ssize_t Receive(int fd, void* data, std::size_t size) {
    const ssize_t n = recv(fd, data, size, 0);
    if (n >= 0 && pcap::Recording())
        pcap::Received(fd, data, static_cast<std::size_t>(n));
    return n;
}

ssize_t ReceiveDatagram(int fd, void* data, std::size_t size, sockaddr_in& peer) {
    socklen_t len = sizeof peer;
    const ssize_t n = recvfrom(fd, data, size, 0, reinterpret_cast<sockaddr*>(&peer), &len);
    if (n >= 0 && pcap::Recording())
        pcap::Datagram(fd, peer, false, data, static_cast<std::size_t>(n));
    return n;
}

void SendDatagram(int fd, const void* data, std::size_t size, const sockaddr_in& peer) {
    if (pcap::Recording())
        pcap::Datagram(fd, peer, true, data, size);
    sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
}

bool ReceiveAll(int fd, void* data, std::size_t size, const StopSignal& stop) {
    auto* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        if (WaitReadable(fd, stop, -1) != WaitResult::Ready)
            return false;
        const ssize_t n = Receive(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void EndConnection(int fd) {
    // Recorded first: the end of stream a read then returns is our own.
    if (pcap::Recording())
        pcap::Ended(fd);
    shutdown(fd, SHUT_RDWR);
}

void CloseFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void ConnectionPool::Start(int fd, std::function<void(int)> serve) {
    std::lock_guard lock(m_mutex);
    ReapFinished();
    auto connection = std::make_unique<Connection>();
    Connection* c = connection.get();
    c->fd = fd;
    if (pcap::Recording())
        pcap::Accepted(fd);
    c->thread = std::thread([this, c, serve = std::move(serve)] {
        serve(c->fd);
        // The peer sees the end at once; the descriptor is closed when the
        // thread is reaped, so its number cannot be reused while others use it.
        EndConnection(c->fd);
        std::lock_guard done(m_mutex);
        c->done = true;
    });
    m_connections.push_back(std::move(connection));
}

void ConnectionPool::ReapFinished() {
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            CloseFd((*it)->fd);
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

void ConnectionPool::StopAll() {
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard lock(m_mutex);
        for (auto& c : m_connections)
            if (c->fd >= 0)
                EndConnection(c->fd);
        all.swap(m_connections);
    }
    for (auto& c : all) {
        if (c->thread.joinable())
            c->thread.join();
        CloseFd(c->fd);
    }
}

} // namespace quarvel::sim
