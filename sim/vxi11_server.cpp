#include "sim/vxi11_server.h"

#include "sim/rpc_server.h"

#include "sim/portmap_service.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <vector>

namespace quarvel::sim {

namespace rpc = visa::rpc;

namespace {

// Largest portmapper call we accept (they are tiny).
constexpr std::size_t kMaxPortmapRecord = 4096;

// How replies go out: TCP piece size, record-marking fragment size, and
// whether each reply follows a late copy of the previous one.
struct ReplyFraming {
    std::size_t pieceSize = 0;
    std::size_t bytesPerSecond = 0; // the rate limit (0: none)
    std::uint32_t maxFragment = visa::rpc::kMaxFragmentLength;
    bool staleReplies = false;
};

using Outcome = Vxi11Service::Outcome;

// Sends one reply as framing says. False when the peer went away or we stop.
bool SendReply(int fd, const Outcome& reply, const ReplyFraming& framing, rpc::Bytes& previous,
               const StopSignal& stop) {
    const auto text = [](const auto& bytes) {
        return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    if (framing.pieceSize == 0 && framing.bytesPerSecond == 0 && !framing.staleReplies &&
        reply.Size() <= framing.maxFragment) {
        // One fragment in one gathered write: no copy of device_read data,
        // and no small last segment left for Nagle to hold back until the
        // client's delayed acknowledgement.
        const auto mark = rpc::EncodeFragmentHeader(static_cast<std::uint32_t>(reply.Size()), true);
        static constexpr char kZeros[4] = {};
        const std::string_view parts[] = {text(mark), text(reply.reply), text(reply.body),
                                          std::string_view(kZeros, reply.Padding())};
        return SendGathered(fd, parts, stop);
    }
    const rpc::Bytes whole = reply.Joined();
    rpc::Bytes framed;
    if (framing.staleReplies && !previous.empty())
        AppendRecord(framed, previous, framing.maxFragment);
    AppendRecord(framed, whole, framing.maxFragment);
    if (framing.staleReplies)
        previous = whole;
    return SendAll(fd, text(framed), SendPacing{framing.pieceSize, framing.bytesPerSecond}, stop);
}

// Reads records from fd and answers each through handle(record, outcome)
// until the peer leaves, a record is too large, the outcome asks to close,
// or we stop.
template <typename Handler>
void ServeRecords(int fd, std::size_t maxRecord, const ReplyFraming& framing,
                  const StopSignal& stop, Handler handle) {
    // Replies are request and response, each sent in one write: nothing is
    // gained by holding back a short one.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    rpc::Bytes previous;
    RecordAssembler assembler(maxRecord);
    std::vector<std::uint8_t> buffer(64 * 1024);
    Outcome outcome;
    while (WaitReadable(fd, stop, -1) == WaitResult::Ready) {
        const ssize_t n = Receive(fd, buffer.data(), buffer.size());
        if (n <= 0)
            return;
        rpc::ByteView data(buffer.data(), static_cast<std::size_t>(n));
        while (!data.empty()) {
            std::size_t consumed = 0;
            const auto state = assembler.Feed(data, &consumed);
            data = data.subspan(consumed);
            if (state == RecordAssembler::State::TooLarge)
                return;
            if (state != RecordAssembler::State::RecordReady)
                continue;
            handle(assembler.TakeRecord(), outcome);
            if (!outcome.reply.empty() && !SendReply(fd, outcome, framing, previous, stop))
                return;
            if (outcome.close) {
                shutdown(fd, SHUT_RDWR);
                return;
            }
        }
    }
}

} // namespace

bool Vxi11Server::StartCore(const std::string& address, std::string& error) {
    if (!m_core.Listen(address, 0, error))
        return false;
    // Aborts are not simulated; the abort port named in create_link is the
    // core channel's own, which answers any other program with PROG_UNAVAIL.
    m_service = std::make_unique<Vxi11Service>(m_instrument, m_transcript, m_faults, m_core.Port());
    m_core.Accept([this](int fd) { ServeCore(fd); });
    return true;
}

bool Vxi11Server::StartPortmapper(const std::string& address, std::uint16_t port,
                                  std::string& error) {
    if (!m_portmap.Listen(address, port, error))
        return false;
    // UDP on the same port when it is free; clients use TCP first anyway.
    BoundSocket udp = BindUdp(address, m_portmap.Port());
    m_portmapUdpFd = udp.fd;
    m_portmap.Accept([this](int fd) { ServePortmapTcp(fd); });
    if (m_portmapUdpFd >= 0)
        m_portmapUdp = std::thread([this] { ServePortmapUdp(); });
    return true;
}

void Vxi11Server::Stop() {
    m_core.Stop();
    m_portmap.Stop();
    if (m_portmapUdp.joinable())
        m_portmapUdp.join();
    CloseFd(m_portmapUdpFd);
}

void Vxi11Server::ServeCore(int fd) {
    Vxi11Connection connection;
    const Vxi11Service::Sleeper sleep = [this](int ms) { return m_stop.Sleep(ms); };
    // A write carries at most maxRecvSize data bytes plus the call header.
    const std::size_t maxRecord = std::size_t{m_service->MaxRecvSize()} + 4096;
    ReplyFraming framing;
    framing.pieceSize = m_faults.tinyPieces;
    framing.bytesPerSecond = m_faults.rateBytesPerSecond;
    if (m_faults.replyFragment > 0)
        framing.maxFragment = m_faults.replyFragment;
    framing.staleReplies = m_faults.staleReplies;
    ServeRecords(fd, maxRecord, framing, m_stop, [&](const rpc::Bytes& record, Outcome& outcome) {
        m_service->HandleCall(record, connection, sleep, outcome);
    });
    m_service->CloseConnection(connection);
}

void Vxi11Server::ServePortmapTcp(int fd) {
    ServeRecords(fd, kMaxPortmapRecord, ReplyFraming{}, m_stop,
                 [&](const rpc::Bytes& record, Outcome& outcome) {
                     outcome.reply = HandlePortmapCall(record, m_core.Port());
                 });
}

void Vxi11Server::ServePortmapUdp() {
    std::vector<std::uint8_t> buffer(kMaxPortmapRecord);
    while (WaitReadable(m_portmapUdpFd, m_stop, -1) == WaitResult::Ready) {
        sockaddr_in peer{};
        const ssize_t n = ReceiveDatagram(m_portmapUdpFd, buffer.data(), buffer.size(), peer);
        if (n <= 0)
            continue;
        const rpc::Bytes reply = HandlePortmapCall(
            rpc::ByteView(buffer.data(), static_cast<std::size_t>(n)), m_core.Port());
        if (!reply.empty())
            SendDatagram(m_portmapUdpFd, reply.data(), reply.size(), peer);
    }
}

} // namespace quarvel::sim
