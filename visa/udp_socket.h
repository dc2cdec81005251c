#pragma once

// An IPv4 UDP socket with deadlines, for the datagrams of discovery (the
// portmapper's GETPORT asked of many hosts at once): the datagram
// counterpart of tcp_connection.h. Nonblocking underneath.

#include "visa/transport.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quarvel::visa {

class UdpSocket {
public:
    // An unbound socket (the system picks the local port at the first send);
    // broadcast allows sending to broadcast addresses. Null on failure.
    static std::unique_ptr<UdpSocket> Open(bool broadcast);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // One datagram to address:port (host byte order); waits for room in the
    // send buffer until the deadline. False when it could not be sent.
    bool SendTo(std::uint32_t address, std::uint16_t port, std::span<const std::uint8_t> data,
                Deadline deadline);
    // The next datagram (cut to data's capacity) and its sender's address;
    // false at the deadline.
    bool Receive(std::vector<std::uint8_t>& data, std::uint32_t& from, Deadline deadline);

private:
    explicit UdpSocket(int fd) : m_fd(fd) {}
    bool Wait(short events, Deadline deadline);
    int m_fd = -1;
};

struct InterfaceBroadcast {
    std::string interfaceName;
    std::uint32_t address = 0; // host byte order
};
// The broadcast address of every IPv4 interface that is up, not loopback and
// able to broadcast.
std::vector<InterfaceBroadcast> InterfaceBroadcastAddresses();

} // namespace quarvel::visa
