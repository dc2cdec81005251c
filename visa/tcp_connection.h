#pragma once

// A TCP connection with deadlines on every call: the one place where the
// VISA layer touches sockets. Nonblocking underneath, so connect, send and
// receive all end by their deadline.

#include "visa/byte_stream.h"
#include "visa/transport.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quarvel::visa {

class TcpConnection final : public IByteStream {
public:
    // Resolves host (a name, an IPv4 or an IPv6 address) and connects.
    // VI_ERROR_RSRC_NFOUND when nothing answers by the deadline.
    static ViStatus Connect(const std::string& host, std::uint16_t port, Deadline deadline,
                            std::unique_ptr<TcpConnection>& connection);
    // Takes over a connected stream socket (made nonblocking here); the
    // fuzzer's way to run a transport over a socket pair.
    static std::unique_ptr<TcpConnection> Adopt(int fd);
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // With a progress meter whose handler is set, every call below counts
    // the bytes it moves, moves at most ProgressMeter::kMaxPiece bytes at a
    // time, wakes from its waits every ProgressMeter::kWakeInterval to
    // report, and returns VI_ERROR_ABORT once the handler has cancelled.

    // Sends all parts in order (gathered, no copy). VI_ERROR_TMO, or
    // VI_ERROR_CONN_LOST when the peer is gone.
    ViStatus SendAll(std::span<const std::span<const std::uint8_t>> parts, Deadline deadline,
                     ProgressMeter* progress = nullptr) override;
    ViStatus SendAll(const std::uint8_t* data, std::size_t size, Deadline deadline,
                     ProgressMeter* progress = nullptr);
    // The same, telling how many bytes went out also when it fails: a
    // transport whose framing must stay whole sends the rest after a cancel.
    ViStatus SendAll(std::span<const std::span<const std::uint8_t>> parts, Deadline deadline,
                     ProgressMeter* progress, std::size_t& total);
    // Waits until something can be read (or the peer closed), reporting
    // meanwhile: for a transport's framing, which the meter does not count.
    ViStatus WaitReadable(Deadline deadline, ProgressMeter* progress);
    // At least one byte, at most capacity. VI_ERROR_CONN_LOST when the peer
    // closed, VI_ERROR_TMO at the deadline.
    ViStatus ReceiveSome(std::uint8_t* data, std::size_t capacity, Deadline deadline,
                         std::size_t& received, ProgressMeter* progress = nullptr);
    // Exactly size bytes.
    ViStatus ReceiveExact(std::uint8_t* data, std::size_t size, Deadline deadline,
                          ProgressMeter* progress = nullptr) override;
    // Drops whatever has already arrived, without waiting (at most limit bytes).
    void DiscardPending(std::size_t limit);

private:
    explicit TcpConnection(int fd) : m_fd(fd) {}
    // Waits until the socket is ready for events; VI_ERROR_TMO at the deadline.
    ViStatus Wait(short events, Deadline deadline, ProgressMeter* progress);
    int m_fd = -1;
};

} // namespace quarvel::visa
