#pragma once

// Clients that speak to quarvel-sim by hand over real loopback sockets: a raw
// TCP client for the SOCKET port and an ONC RPC client over TCP that frames
// calls with the project's codec.

#include "codec/oncrpc.h"

#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

namespace quarvel::test {

// The words of a command line, split at white space; a word in double quotes
// may hold spaces.
inline std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> std::quoted(word);)
        words.push_back(word);
    return words;
}

class RawClient {
public:
    explicit RawClient(int port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return m_fd >= 0; }
    bool Send(const std::string& bytes);
    // Reads until count bytes arrived, the peer closed or timeoutMs passed
    // without data.
    std::string Read(std::size_t count, int timeoutMs = 3000);
    // Reads through the next LF.
    std::string ReadLine(int timeoutMs = 3000);
    // Whatever arrives within timeoutMs.
    std::string ReadFor(int timeoutMs);
    bool PeerClosed() const { return m_closed; }
    int Receives() const { return m_receives; }
    // Bytes received but not read yet.
    std::size_t Buffered() const { return m_buffer.size(); }

private:
    int m_fd = -1;
    bool m_closed = false;
    int m_receives = 0;
    std::string m_buffer;
    bool Fill(int timeoutMs);
};

class RpcClient {
public:
    // TCP with record marking.
    explicit RpcClient(int port) : m_raw(port) {}

    bool Connected() const { return m_raw.Connected(); }
    // Sends a call and waits for its reply; false when none arrives in time,
    // the connection closed or more than the one reply came. The results stay
    // in `results`.
    bool Call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
              const visa::rpc::Bytes& args, visa::rpc::ReplyHeader& reply,
              visa::rpc::Bytes& results, int timeoutMs = 5000);
    // Sends raw record bytes (already framed, or any bytes at all).
    bool SendRaw(const visa::rpc::Bytes& bytes) {
        return m_raw.Send(std::string(bytes.begin(), bytes.end()));
    }
    // A VXI-11 core call of `parms` whose reply decodes into `resp`; false
    // when none came or it did not decode. What `resp` points into stays valid
    // until the next call.
    template <typename Parms, typename Resp>
    bool Vxi11(std::uint32_t procedure, const Parms& parms, Resp& resp, int timeoutMs = 5000) {
        visa::rpc::Bytes args;
        visa::rpc::Encode(args, parms);
        visa::rpc::ReplyHeader h;
        if (!Call(visa::rpc::kVxi11CoreProgram, 1, procedure, args, h, m_results, timeoutMs))
            return false;
        visa::rpc::XdrReader in(m_results);
        return visa::rpc::Decode(in, resp);
    }
    // The peer closed within timeoutMs, sending nothing first.
    bool PeerClosed(int timeoutMs) {
        return m_raw.ReadFor(timeoutMs).empty() && m_raw.PeerClosed();
    }

private:
    RawClient m_raw;
    std::uint32_t m_xid = 0x5100;
    visa::rpc::Bytes m_results; // of the last Vxi11()
};

// A record read from the stream fragment by fragment; false when a fragment
// is longer than maxFragment or the stream ends.
bool ReadRecord(RawClient& c, std::size_t maxFragment, visa::rpc::Bytes& record,
                int timeoutMs = 3000);

// Opens a VXI-11 link to "inst0" on the core channel `c` talks to, expecting
// success; the link id, and the offered maxRecvSize in `maxRecv` if given.
std::int32_t CreateLink(RpcClient& c, std::uint32_t* maxRecv = nullptr);
// device_write of `data` (with END when `end`); error -1 when no reply came.
visa::rpc::DeviceWriteResp Vxi11Write(RpcClient& c, std::int32_t linkId, const std::string& data,
                                      bool end);
// device_read of up to `size` bytes, the reply's data in `data` (and in the
// result until the next call); error -1 when no reply came.
visa::rpc::DeviceReadResp Vxi11Read(RpcClient& c, std::int32_t linkId, std::uint32_t size,
                                    std::string& data, std::uint32_t ioTimeout = 1000);

} // namespace quarvel::test
