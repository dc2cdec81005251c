#pragma once

// Socket plumbing of the simulator's servers: loopback listeners, a stop
// signal every wait watches, sending in pieces, and the threads that serve
// accepted connections. Servers send and receive through these helpers only,
// so that --pcap (sim/pcap_recorder.h) sees every byte.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>

struct sockaddr_in;

namespace quarvel::sim {

// Raised once to end every server loop and wait.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void Raise();
    bool Raised() const;
    int Fd() const { return m_fd; }
    // Sleeps ms milliseconds; false when the signal was raised meanwhile.
    bool Sleep(int ms) const;

private:
    int m_fd = -1;
};

enum class WaitResult { Ready, Timeout, Stopped, Error };
// Waits until fd is readable (timeoutMs < 0: no limit).
WaitResult WaitReadable(int fd, const StopSignal& stop, int timeoutMs);

// True for dotted IPv4 text in 127.0.0.0/8 and for the IPv6 loopback ::1.
bool IsLoopbackAddress(const std::string& address);

// A bound socket: TCP listening or UDP. fd < 0 and error set on failure.
struct BoundSocket {
    int fd = -1;
    std::uint16_t port = 0;
    std::string error;
};
BoundSocket ListenTcp(const std::string& address, std::uint16_t port);
BoundSocket BindUdp(const std::string& address, std::uint16_t port);

// How replies go on the wire.
struct SendPacing {
    // Pieces of this many bytes with a short pause after each, so that they
    // leave as separate TCP segments (0: at once).
    std::size_t pieceSize = 0;
    // At most this many bytes a second (0: as fast as the socket takes them),
    // like an instrument behind a slow link.
    std::size_t bytesPerSecond = 0;
};

// Sends all bytes as pacing says. False when the peer went away or the stop
// signal was raised.
bool SendAll(int fd, std::string_view data, const SendPacing& pacing, const StopSignal& stop);
// Pieces of pieceSize bytes (0: at once), no rate limit.
inline bool SendAll(int fd, std::string_view data, std::size_t pieceSize, const StopSignal& stop) {
    return SendAll(fd, data, SendPacing{pieceSize, 0}, stop);
}

// Sends head and then body with one gathered write where the socket takes it
// (no copy, no small segment left waiting on its own). False when the peer
// went away or the stop signal was raised.
bool SendGathered(int fd, std::string_view head, std::string_view body, const StopSignal& stop);
// The same for any number of parts (at most kMaxGatheredParts).
inline constexpr std::size_t kMaxGatheredParts = 8;
bool SendGathered(int fd, std::span<const std::string_view> parts, const StopSignal& stop);

// One recv(), seen by --pcap.
ssize_t Receive(int fd, void* data, std::size_t size);

// One datagram from or to a UDP peer, seen by --pcap.
ssize_t ReceiveDatagram(int fd, void* data, std::size_t size, sockaddr_in& peer);
void SendDatagram(int fd, const void* data, std::size_t size, const sockaddr_in& peer);

// Receives exactly size bytes. False when the peer went away first or the
// stop signal was raised.
bool ReceiveAll(int fd, void* data, std::size_t size, const StopSignal& stop);

// Ends a served connection at once, both ways (blocked reads and writes
// return); the descriptor stays open for its thread.
void EndConnection(int fd);
void CloseFd(int& fd);

// Threads serving accepted connections. Each gets its socket, which it must
// not close (the pool does, when the thread ends). StopAll shuts every socket
// down (so blocked reads and writes return) and joins the threads.
class ConnectionPool {
public:
    ~ConnectionPool() { StopAll(); }
    void Start(int fd, std::function<void(int fd)> serve);
    void StopAll();

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        bool done = false;
    };
    void ReapFinished();

    std::mutex m_mutex;
    std::list<std::unique_ptr<Connection>> m_connections;
};

} // namespace quarvel::sim
