#include "tests/support/tcp_relay.h"

#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <span>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quarvel::test {
namespace {

constexpr std::uint32_t kLinkTypeRaw = 101; // frames start with the IPv4 header
constexpr std::size_t kHeaders = 40;        // IPv4 + TCP, no options
constexpr std::size_t kMaxSegment = 60000;  // well inside the 65535-byte IPv4 limit
constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10;

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, static_cast<std::uint16_t>(v >> 16));
    Put16(p + 2, static_cast<std::uint16_t>(v));
}

// The Internet checksum's running sum over big-endian 16-bit words.
std::uint32_t SumWords(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0) {
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    return sum;
}
std::uint16_t Fold(std::uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// Both ends of one recorded stream: index 0 the client, 1 the server.
struct Flow {
    std::uint32_t address[2] = {};
    std::uint16_t port[2] = {};
    std::uint32_t next[2] = {}; // the next sequence number each side sends
    bool finished[2] = {};      // FIN recorded
};

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

struct TcpRelay::Impl {
    std::mutex mutex;
    std::condition_variable changed;
    std::FILE* file = nullptr;
    bool writeFailed = false;
    bool stopping = false;
    int stopPipe[2] = {-1, -1};
    std::vector<int> listeners;
    std::vector<std::thread> listenerThreads;
    std::vector<std::thread> connectionThreads;
    int accepted = 0;
    int open = 0;
    bool cut = false;
    std::uint16_t ipId = 0;

    // One frame; the caller holds the mutex.
    void WriteFrame(Flow& flow, int from, std::uint8_t flags, std::span<const std::uint8_t> data) {
        if (file == nullptr) {
            writeFailed = true;
            return;
        }
        std::uint8_t h[kHeaders] = {};
        const std::size_t total = kHeaders + data.size();
        h[0] = 0x45;
        Put16(h + 2, static_cast<std::uint16_t>(total));
        Put16(h + 4, ipId++);
        h[6] = 0x40; // don't fragment
        h[8] = 64;
        h[9] = IPPROTO_TCP;
        Put32(h + 12, flow.address[from]);
        Put32(h + 16, flow.address[1 - from]);
        Put16(h + 10, Fold(SumWords({h, 20})));
        std::uint8_t* t = h + 20;
        Put16(t, flow.port[from]);
        Put16(t + 2, flow.port[1 - from]);
        Put32(t + 4, flow.next[from]);
        Put32(t + 8, (flags & kAck) ? flow.next[1 - from] : 0);
        t[12] = 5 << 4;
        t[13] = flags;
        Put16(t + 14, 65535);
        std::uint8_t pseudo[12] = {};
        std::memcpy(pseudo, h + 12, 8);
        pseudo[9] = IPPROTO_TCP;
        Put16(pseudo + 10, static_cast<std::uint16_t>(20 + data.size()));
        Put16(t + 16, Fold(SumWords(data, SumWords({t, 20}, SumWords(pseudo)))));
        flow.next[from] +=
            static_cast<std::uint32_t>(data.size()) + ((flags & (kSyn | kFin)) ? 1 : 0);

        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const std::uint32_t record[4] = {
            static_cast<std::uint32_t>(now.tv_sec), static_cast<std::uint32_t>(now.tv_nsec / 1000),
            static_cast<std::uint32_t>(total), static_cast<std::uint32_t>(total)};
        if (std::fwrite(record, sizeof record, 1, file) != 1 ||
            std::fwrite(h, kHeaders, 1, file) != 1 ||
            (!data.empty() && std::fwrite(data.data(), data.size(), 1, file) != 1))
            writeFailed = true;
    }

    // What one side sent, as acknowledged segments.
    void RecordData(Flow& flow, int from, std::span<const std::uint8_t> data) {
        std::lock_guard lock(mutex);
        for (std::size_t done = 0; done < data.size(); done += kMaxSegment) {
            WriteFrame(flow, from, kPsh | kAck,
                       data.subspan(done).first(std::min(kMaxSegment, data.size() - done)));
            WriteFrame(flow, 1 - from, kAck, {});
        }
    }

    // One side closed; the other acknowledges.
    void RecordFin(Flow& flow, int from) {
        std::lock_guard lock(mutex);
        if (flow.finished[from])
            return;
        flow.finished[from] = true;
        WriteFrame(flow, from, kFin | kAck, {});
        WriteFrame(flow, 1 - from, kAck, {});
    }

    void Listen(int listener, std::uint16_t targetPort) {
        for (;;) {
            pollfd p[2] = {{listener, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0 || p[1].revents != 0)
                return;
            sockaddr_in peer{}, local{};
            socklen_t peerLen = sizeof peer, localLen = sizeof local;
            const int client =
                accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peerLen, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            getsockname(client, reinterpret_cast<sockaddr*>(&local), &localLen);
            Flow flow;
            flow.address[0] = ntohl(peer.sin_addr.s_addr);
            flow.address[1] = ntohl(local.sin_addr.s_addr);
            flow.port[1] = ntohs(local.sin_port);
            const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in target{};
            target.sin_family = AF_INET;
            target.sin_port = htons(targetPort);
            target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool connected =
                server >= 0 &&
                connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0;
            std::lock_guard lock(mutex);
            const int index = accepted++;
            flow.port[0] = static_cast<std::uint16_t>(kFirstClientPort + index);
            // Sequence spaces of their own, so that no two streams look alike.
            flow.next[0] = 0x10000000u * static_cast<std::uint32_t>(index % 8 + 1);
            flow.next[1] = flow.next[0] + 0x08000000u;
            WriteFrame(flow, 0, kSyn, {});
            if (!connected) {
                WriteFrame(flow, 1, kRst | kAck, {});
                close(client);
                if (server >= 0)
                    close(server);
                continue;
            }
            WriteFrame(flow, 1, kSyn | kAck, {});
            WriteFrame(flow, 0, kAck, {});
            ++open;
            connectionThreads.emplace_back(
                [this, flow, client, server]() mutable { Relay(flow, client, server); });
        }
    }

    void Relay(Flow& flow, int client, int server) {
        const int fds[2] = {client, server};
        bool ended[2] = {};
        std::vector<std::uint8_t> buffer(256 * 1024);
        bool stopped = false;
        while (!(ended[0] && ended[1])) {
            pollfd p[3] = {{ended[0] ? -1 : client, POLLIN, 0},
                           {ended[1] ? -1 : server, POLLIN, 0},
                           {stopPipe[0], POLLIN, 0}};
            if (poll(p, 3, -1) < 0 || p[2].revents != 0) {
                stopped = true;
                break;
            }
            for (int from = 0; from < 2; ++from) {
                if (ended[from] || p[from].revents == 0)
                    continue;
                const ssize_t n = recv(fds[from], buffer.data(), buffer.size(), 0);
                if (n > 0) {
                    RecordData(flow, from, {buffer.data(), static_cast<std::size_t>(n)});
                    if (SendAll(fds[1 - from], buffer.data(), static_cast<std::size_t>(n)))
                        continue;
                }
                // End of stream (or a reset): passed on as such.
                ended[from] = true;
                RecordFin(flow, from);
                shutdown(fds[1 - from], SHUT_WR);
            }
        }
        RecordFin(flow, 0);
        RecordFin(flow, 1);
        close(client);
        close(server);
        std::lock_guard lock(mutex);
        cut = cut || stopped;
        --open;
        changed.notify_all();
    }
};

TcpRelay::TcpRelay(const std::string& pcapPath) : m_impl(std::make_unique<Impl>()) {
    if (pipe2(m_impl->stopPipe, O_CLOEXEC) != 0)
        m_impl->stopPipe[0] = m_impl->stopPipe[1] = -1;
    m_impl->file = std::fopen(pcapPath.c_str(), "wb");
    // The classic file header: version 2.4, microseconds, raw IPv4 frames.
    const std::uint32_t magic = 0xA1B2C3D4u;
    const std::uint16_t version[2] = {2, 4};
    const std::uint32_t rest[4] = {0, 0, 65535, kLinkTypeRaw};
    if (m_impl->file == nullptr || std::fwrite(&magic, 4, 1, m_impl->file) != 1 ||
        std::fwrite(version, 4, 1, m_impl->file) != 1 ||
        std::fwrite(rest, 16, 1, m_impl->file) != 1)
        m_impl->writeFailed = true;
}

TcpRelay::~TcpRelay() {
    Finish(std::chrono::milliseconds(0));
}

std::uint16_t TcpRelay::Forward(std::uint16_t targetPort, const std::string& address,
                                std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t len = sizeof sa;
    if (fd < 0 || inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        if (fd >= 0)
            close(fd);
        return 0;
    }
    std::lock_guard lock(m_impl->mutex);
    if (m_impl->stopping) {
        close(fd);
        return 0;
    }
    m_impl->listeners.push_back(fd);
    m_impl->listenerThreads.emplace_back(
        [impl = m_impl.get(), fd, targetPort] { impl->Listen(fd, targetPort); });
    return ntohs(sa.sin_port);
}

bool TcpRelay::Finish(std::chrono::milliseconds timeout) {
    Impl& impl = *m_impl;
    {
        std::unique_lock lock(impl.mutex);
        if (impl.stopping)
            return false;
        impl.stopping = true;
        impl.changed.wait_for(lock, timeout, [&] { return impl.open == 0; });
    }
    if (impl.stopPipe[1] >= 0) {
        const char stop = 1;
        (void)!write(impl.stopPipe[1], &stop, 1);
    }
    // Listeners first: after them no connection thread is added.
    for (std::thread& t : impl.listenerThreads)
        t.join();
    for (std::thread& t : impl.connectionThreads)
        t.join();
    impl.listenerThreads.clear();
    impl.connectionThreads.clear();
    for (int fd : impl.listeners)
        close(fd);
    impl.listeners.clear();
    for (int& fd : impl.stopPipe)
        if (fd >= 0)
            close(std::exchange(fd, -1));
    const bool closed = impl.file != nullptr && std::fclose(impl.file) == 0;
    impl.file = nullptr;
    return closed && !impl.writeFailed && !impl.cut;
}

int TcpRelay::Connections() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->accepted;
}

} // namespace quarvel::test
