#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace quarvel::test {

// A loopback TCP relay that records every byte passing through it, in both
// directions, into a classic pcap file, so that an independent protocol
// decoder (tshark) can read the conversation between our client and the
// simulator as if it had been captured on the wire.
//
// Each connection becomes one synthetic TCP stream (raw IPv4 frames): a
// three-way handshake, data segments of at most 60000 bytes with the
// sequence and acknowledgement numbers a real stack would give, each
// acknowledged at once, and a FIN from each side as it closes. The
// listening address and port are the server's; the client keeps its address
// and gets port kFirstClientPort + n for the relay's n-th connection (below
// the ephemeral ports a listener may have). What one side sends is recorded before it is
// passed on, so the file keeps cause before effect across connections.
class TcpRelay {
public:
    static constexpr int kFirstClientPort = 20000;

    explicit TcpRelay(const std::string& pcapPath);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    // Listens on address:port (0: a free port) and forwards each connection
    // to 127.0.0.1:targetPort. The port listened on; 0 on failure.
    std::uint16_t Forward(std::uint16_t targetPort, const std::string& address = "127.0.0.1",
                          std::uint16_t port = 0);

    // Waits (at most timeout) until every connection has been closed by
    // both ends, stops, records the rest as closed and completes the file.
    // False when a connection had to be cut or the file could not be written.
    bool Finish(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Connections accepted so far.
    int Connections() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quarvel::test
