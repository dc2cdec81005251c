#pragma once

// quarvel-sim --pcap: every connection the simulator serves, and every
// portmapper datagram, recorded into a classic pcap file that Wireshark and
// tshark open. Each connection becomes synthetic IPv4/TCP frames with its own
// addresses and ports: a handshake at accept, data segments of at most 60000
// bytes with the sequence and acknowledgement numbers a real stack would give
// (each acknowledged at once), a FIN from each side as it closes, correct
// checksums. Bytes are recorded in the order the simulator received and sent
// them, a reply before it goes out, so that across connections (HiSLIP's two
// channels) the file keeps cause before effect. Every frame is written at
// once, so the file may be read while the simulator runs or after it was
// killed.
//
// Recording belongs to the process: the socket helpers of net.h every server
// sends and receives through find a connection by its descriptor, so no
// server takes part, and while nothing records they pay one relaxed load.

#include <atomic>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

struct sockaddr_in;

namespace quarvel::sim {

class PcapRecording {
public:
    // Creates (truncates) path and records from now until the object goes.
    // Null with error text when the file cannot be created or another
    // recording of this process runs.
    static std::unique_ptr<PcapRecording> Start(const std::string& path, std::string& error);
    ~PcapRecording();
    PcapRecording(const PcapRecording&) = delete;
    PcapRecording& operator=(const PcapRecording&) = delete;

private:
    PcapRecording() = default;
};

namespace pcap {

namespace detail {
extern std::atomic<bool> recording;
}

// Whether a recording runs: the hooks below are called only then.
inline bool Recording() {
    return detail::recording.load(std::memory_order_relaxed);
}

// A connection was accepted / is ended by the simulator (its FIN; what it
// reads afterwards is not the peer's).
void Accepted(int fd);
void Ended(int fd);
// Bytes about to be sent, in order.
void Sent(int fd, std::span<const std::string_view> parts);
// What one recv() gave: size bytes, or the peer's end of stream at 0.
void Received(int fd, const void* data, std::size_t size);
// A datagram received from or about to be sent to peer on the UDP socket fd.
void Datagram(int fd, const sockaddr_in& peer, bool sent, const void* data, std::size_t size);

} // namespace pcap
} // namespace quarvel::sim
