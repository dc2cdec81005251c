#include "sim/pcap_recorder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace quarvel::sim {
namespace pcap::detail {
std::atomic<bool> recording{false};
}

namespace {

constexpr std::uint32_t kLinkTypeRaw = 101; // frames start with the IPv4 header
constexpr std::size_t kRecordHeader = 16, kIpHeader = 20, kTcpHeader = 20, kUdpHeader = 8;
constexpr std::size_t kMaxSegment = 60000; // well inside the 65535-byte IPv4 limit
constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10;

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

struct Endpoint {
    std::uint32_t address = 0; // host order
    std::uint16_t port = 0;
};

// Both ends of one recorded connection: index 0 the peer, 1 the simulator.
struct Flow {
    Endpoint end[2];
    std::uint32_t next[2] = {}; // the next sequence number each side sends
    bool finished[2] = {};      // FIN recorded
};

struct State {
    std::mutex mutex;
    int fd = -1;
    std::string path;
    std::unordered_map<int, Flow> flows; // by the connection's descriptor
    std::uint16_t ipId = 0;
    std::uint32_t accepted = 0;

    // One frame from `from` to `to`: IPv4, then the transport header (its
    // checksum field left zero) and the payload. The caller holds the mutex.
    void Write(const Endpoint& from, const Endpoint& to, std::uint8_t protocol,
               std::span<std::uint8_t> transport, std::span<const std::uint8_t> payload) {
        if (fd < 0)
            return;
        const std::size_t total = kIpHeader + transport.size() + payload.size();
        std::vector<std::uint8_t> frame(kRecordHeader + kIpHeader);
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const std::uint32_t record[4] = {
            static_cast<std::uint32_t>(now.tv_sec), static_cast<std::uint32_t>(now.tv_nsec / 1000),
            static_cast<std::uint32_t>(total), static_cast<std::uint32_t>(total)};
        std::memcpy(frame.data(), record, sizeof record);
        std::uint8_t* ip = frame.data() + kRecordHeader;
        ip[0] = 0x45;
        Put16(ip + 2, static_cast<std::uint16_t>(total));
        Put16(ip + 4, ipId++);
        ip[6] = 0x40; // don't fragment
        ip[8] = 64;
        ip[9] = protocol;
        Put32(ip + 12, from.address);
        Put32(ip + 16, to.address);
        Put16(ip + 10, Fold(SumWords({ip, kIpHeader})));
        // The checksum covers a pseudo header, the transport header and the payload.
        std::uint8_t pseudo[12] = {};
        std::memcpy(pseudo, ip + 12, 8);
        pseudo[9] = protocol;
        Put16(pseudo + 10, static_cast<std::uint16_t>(transport.size() + payload.size()));
        const std::size_t checksumAt = protocol == IPPROTO_TCP ? 16 : 6;
        std::uint16_t checksum = Fold(SumWords(payload, SumWords(transport, SumWords(pseudo))));
        if (checksum == 0 && protocol == IPPROTO_UDP)
            checksum = 0xFFFF; // zero would mean "none"
        Put16(transport.data() + checksumAt, checksum);
        frame.insert(frame.end(), transport.begin(), transport.end());
        frame.insert(frame.end(), payload.begin(), payload.end());
        // One write a frame: a reader never waits for a buffer to be flushed.
        for (std::size_t done = 0; done < frame.size();) {
            const ssize_t n = write(fd, frame.data() + done, frame.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                std::fprintf(stderr, "quarvel-sim: %s: %s; recording stopped\n", path.c_str(),
                             n < 0 ? std::strerror(errno) : "nothing written");
                close(fd);
                fd = -1;
                pcap::detail::recording = false;
                return;
            }
            done += static_cast<std::size_t>(n);
        }
    }

    void WriteTcp(Flow& flow, int from, std::uint8_t flags,
                  std::span<const std::uint8_t> payload = {}) {
        std::uint8_t t[kTcpHeader] = {};
        Put16(t, flow.end[from].port);
        Put16(t + 2, flow.end[1 - from].port);
        Put32(t + 4, flow.next[from]);
        Put32(t + 8, (flags & kAck) ? flow.next[1 - from] : 0);
        t[12] = 5 << 4;
        t[13] = flags;
        Put16(t + 14, 65535);
        Write(flow.end[from], flow.end[1 - from], IPPROTO_TCP, t, payload);
        flow.next[from] +=
            static_cast<std::uint32_t>(payload.size()) + ((flags & (kSyn | kFin)) ? 1 : 0);
    }

    // What one side sent, as segments the other acknowledges at once.
    void WriteData(Flow& flow, int from, std::span<const std::string_view> parts) {
        std::vector<std::uint8_t> segment;
        const auto flush = [&] {
            WriteTcp(flow, from, kPsh | kAck, segment);
            WriteTcp(flow, 1 - from, kAck);
            segment.clear();
        };
        for (const std::string_view part : parts) {
            for (std::size_t at = 0; at < part.size();) {
                const std::size_t take = std::min(part.size() - at, kMaxSegment - segment.size());
                segment.insert(segment.end(), part.begin() + static_cast<std::ptrdiff_t>(at),
                               part.begin() + static_cast<std::ptrdiff_t>(at + take));
                at += take;
                if (segment.size() == kMaxSegment)
                    flush();
            }
        }
        if (!segment.empty())
            flush();
    }

    void WriteFin(Flow& flow, int from) {
        if (flow.finished[from])
            return;
        flow.finished[from] = true;
        WriteTcp(flow, from, kFin | kAck);
        WriteTcp(flow, 1 - from, kAck);
    }
};

State& TheState() {
    static State state;
    return state;
}

bool Address(int fd, bool peer, Endpoint& endpoint) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const int r = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len)
                       : getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    if (r != 0 || sa.sin_family != AF_INET)
        return false;
    endpoint = {ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
    return true;
}

} // namespace

std::unique_ptr<PcapRecording> PcapRecording::Start(const std::string& path, std::string& error) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    if (s.fd >= 0) {
        error = path + ": this process records into " + s.path + " already";
        return nullptr;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    // The classic file header: version 2.4, microseconds, raw IPv4 frames.
    std::uint8_t header[24] = {};
    const std::uint32_t magic = 0xA1B2C3D4u, snapAndLink[2] = {65535, kLinkTypeRaw};
    const std::uint16_t version[2] = {2, 4};
    std::memcpy(header, &magic, 4);
    std::memcpy(header + 4, version, 4);
    std::memcpy(header + 16, snapAndLink, 8);
    if (fd < 0 || write(fd, header, sizeof header) != static_cast<ssize_t>(sizeof header)) {
        error = path + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    s.fd = fd;
    s.path = path;
    s.flows.clear();
    pcap::detail::recording = true;
    return std::unique_ptr<PcapRecording>(new PcapRecording());
}

PcapRecording::~PcapRecording() {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    pcap::detail::recording = false;
    if (s.fd >= 0)
        close(s.fd);
    s.fd = -1;
    s.flows.clear();
}

namespace pcap {

void Accepted(int fd) {
    Flow flow;
    if (!Address(fd, true, flow.end[0]) || !Address(fd, false, flow.end[1]))
        return;
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    // Sequence spaces of their own, so that no two connections look alike.
    flow.next[0] = 0x10000000u * (s.accepted++ % 8 + 1);
    flow.next[1] = flow.next[0] + 0x08000000u;
    s.WriteTcp(flow, 0, kSyn);
    s.WriteTcp(flow, 1, kSyn | kAck);
    s.WriteTcp(flow, 0, kAck);
    s.flows[fd] = flow;
}

void Ended(int fd) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    const auto it = s.flows.find(fd);
    if (it == s.flows.end())
        return;
    s.WriteFin(it->second, 1);
    s.flows.erase(it);
}

void Sent(int fd, std::span<const std::string_view> parts) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    if (const auto it = s.flows.find(fd); it != s.flows.end())
        s.WriteData(it->second, 1, parts);
}

void Received(int fd, const void* data, std::size_t size) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    const auto it = s.flows.find(fd);
    if (it == s.flows.end())
        return;
    if (size == 0) {
        s.WriteFin(it->second, 0);
        return;
    }
    const std::string_view part(static_cast<const char*>(data), size);
    s.WriteData(it->second, 0, {&part, 1});
}

void Datagram(int fd, const sockaddr_in& peer, bool sent, const void* data, std::size_t size) {
    Endpoint ends[2] = {{ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port)}, {}};
    if (!Address(fd, false, ends[1]) || size > 65535 - kIpHeader - kUdpHeader)
        return;
    const Endpoint& from = ends[sent ? 1 : 0];
    const Endpoint& to = ends[sent ? 0 : 1];
    std::uint8_t u[kUdpHeader] = {};
    Put16(u, from.port);
    Put16(u + 2, to.port);
    Put16(u + 4, static_cast<std::uint16_t>(kUdpHeader + size));
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.Write(from, to, IPPROTO_UDP, u, {static_cast<const std::uint8_t*>(data), size});
}

} // namespace pcap
} // namespace quarvel::sim
