#include "tests/sim/sim_test_client.h"
#include "sim/rpc_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace quarvel::test {
namespace {

namespace rpc = visa::rpc;

int Connect(int port, int type) {
    const int fd = socket(AF_INET, type, 0);
    if (fd < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool WaitIn(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

bool SendBytes(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

RawClient::RawClient(int port) : m_fd(Connect(port, SOCK_STREAM)) {}
RawClient::~RawClient() {
    if (m_fd >= 0)
        close(m_fd);
}

bool RawClient::Send(const std::string& bytes) {
    return SendBytes(m_fd, bytes.data(), bytes.size());
}

bool RawClient::Fill(int timeoutMs) {
    if (m_closed || !WaitIn(m_fd, timeoutMs))
        return false;
    char buffer[65536];
    const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        m_closed = true;
        return false;
    }
    ++m_receives;
    m_buffer.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::string RawClient::Read(std::size_t count, int timeoutMs) {
    while (m_buffer.size() < count && Fill(timeoutMs)) {
    }
    const std::size_t n = std::min(count, m_buffer.size());
    std::string out = m_buffer.substr(0, n);
    m_buffer.erase(0, n);
    return out;
}

std::string RawClient::ReadLine(int timeoutMs) {
    while (m_buffer.find('\n') == std::string::npos && Fill(timeoutMs)) {
    }
    const std::size_t lf = m_buffer.find('\n');
    const std::size_t n = lf == std::string::npos ? m_buffer.size() : lf + 1;
    std::string out = m_buffer.substr(0, n);
    m_buffer.erase(0, n);
    return out;
}

std::string RawClient::ReadFor(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !Fill(static_cast<int>(left)))
            break;
    }
    std::string out;
    out.swap(m_buffer);
    return out;
}

RpcClient::RpcClient(int port) : m_fd(Connect(port, SOCK_STREAM)) {}
RpcClient::~RpcClient() {
    if (m_fd >= 0)
        close(m_fd);
}

bool RpcClient::SendRaw(const rpc::Bytes& bytes) {
    return SendBytes(m_fd, bytes.data(), bytes.size());
}

bool RpcClient::PeerClosed(int timeoutMs) {
    if (!WaitIn(m_fd, timeoutMs))
        return false;
    char c;
    return recv(m_fd, &c, 1, 0) == 0;
}

bool RpcClient::Call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                     const rpc::Bytes& args, rpc::ReplyHeader& reply, rpc::Bytes& results,
                     int timeoutMs) {
    rpc::Bytes message;
    const std::uint32_t xid = ++m_xid;
    rpc::EncodeCallHeader(message, {xid, rpc::kRpcVersion, program, version, procedure});
    message.insert(message.end(), args.begin(), args.end());
    rpc::Bytes record;
    quarvel::sim::AppendRecord(record, message);
    if (!SendRaw(record))
        return false;

    quarvel::sim::RecordAssembler assembler(128u << 20);
    std::vector<std::uint8_t> buffer(65536);
    bool ready = false;
    while (!ready) {
        if (!WaitIn(m_fd, timeoutMs))
            return false;
        const ssize_t n = recv(m_fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            return false;
        rpc::ByteView data(buffer.data(), static_cast<std::size_t>(n));
        std::size_t consumed = 0;
        ready =
            assembler.Feed(data, &consumed) == quarvel::sim::RecordAssembler::State::RecordReady;
        // One call, one reply: nothing may follow the record.
        if (ready && consumed != data.size())
            return false;
    }
    const rpc::Bytes whole = assembler.TakeRecord();
    rpc::XdrReader in(whole);
    if (!rpc::DecodeReplyHeader(in, reply) || reply.xid != xid)
        return false;
    results.assign(whole.end() - static_cast<std::ptrdiff_t>(in.Remaining()), whole.end());
    return true;
}

std::int32_t CreateLink(RpcClient& c, std::uint32_t* maxRecv) {
    rpc::Bytes args, results;
    rpc::Encode(args, rpc::CreateLinkParms{1, false, 0, "inst0"});
    rpc::ReplyHeader h;
    EXPECT_TRUE(c.Call(rpc::kVxi11CoreProgram, 1, rpc::VXI11_CREATE_LINK, args, h, results));
    EXPECT_TRUE(rpc::ReplySucceeded(h));
    rpc::XdrReader in(results);
    rpc::CreateLinkResp resp;
    EXPECT_TRUE(rpc::Decode(in, resp));
    EXPECT_EQ(resp.error, 0);
    if (maxRecv != nullptr)
        *maxRecv = resp.maxRecvSize;
    return resp.linkId;
}

rpc::DeviceWriteResp Vxi11Write(RpcClient& c, std::int32_t linkId, const std::string& data,
                                bool end) {
    rpc::Bytes args, results;
    rpc::Encode(
        args, rpc::DeviceWriteParms{
                  linkId, 1000, 0, end ? rpc::kVxi11FlagEnd : 0,
                  rpc::ByteView(reinterpret_cast<const std::uint8_t*>(data.data()), data.size())});
    rpc::ReplyHeader h;
    rpc::DeviceWriteResp resp;
    resp.error = -1;
    if (c.Call(rpc::kVxi11CoreProgram, 1, rpc::VXI11_DEVICE_WRITE, args, h, results)) {
        rpc::XdrReader in(results);
        rpc::Decode(in, resp);
    }
    return resp;
}

rpc::DeviceReadResp Vxi11Read(RpcClient& c, std::int32_t linkId, std::uint32_t size,
                              std::string& data, std::uint32_t ioTimeout) {
    rpc::Bytes args, results;
    rpc::Encode(args, rpc::DeviceReadParms{linkId, size, ioTimeout, 0, 0, 0});
    rpc::ReplyHeader h;
    rpc::DeviceReadResp resp;
    resp.error = -1;
    data.clear();
    if (c.Call(rpc::kVxi11CoreProgram, 1, rpc::VXI11_DEVICE_READ, args, h, results,
               static_cast<int>(ioTimeout) + 3000)) {
        rpc::XdrReader in(results);
        rpc::Decode(in, resp);
        data.assign(reinterpret_cast<const char*>(resp.data.data()), resp.data.size());
    }
    resp.data = {}; // it pointed into `results`
    return resp;
}

} // namespace quarvel::test
