#include "tests/sim/sim_test_client.h"
#include "sim/rpc_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <utility>

namespace quarvel::test {

namespace rpc = visa::rpc;

RawClient::RawClient(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(m_fd);
        m_fd = -1;
    }
}

RawClient::~RawClient() {
    if (m_fd >= 0)
        close(m_fd);
}

bool RawClient::Send(const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool RawClient::Fill(int timeoutMs) {
    pollfd p{m_fd, POLLIN, 0};
    if (m_closed || poll(&p, 1, timeoutMs) <= 0)
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
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    for (auto left = milliseconds(timeoutMs);
         left.count() > 0 && Fill(static_cast<int>(left.count()));)
        left = duration_cast<milliseconds>(deadline - steady_clock::now());
    return std::exchange(m_buffer, {});
}

bool ReadRecord(RawClient& c, std::size_t maxFragment, rpc::Bytes& record, int timeoutMs) {
    record.clear();
    for (bool last = false; !last;) {
        const std::string head = c.Read(4, timeoutMs);
        if (head.size() != 4)
            return false;
        const auto h =
            rpc::DecodeFragmentHeader(reinterpret_cast<const std::uint8_t*>(head.data()));
        const std::string body = h.length <= maxFragment ? c.Read(h.length, timeoutMs) : "";
        if (body.size() != h.length)
            return false;
        record.insert(record.end(), body.begin(), body.end());
        last = h.last;
    }
    return true;
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
    // One call, one reply: nothing may follow the record.
    if (!SendRaw(record) || !ReadRecord(m_raw, 128u << 20, record, timeoutMs) ||
        m_raw.Buffered() != 0)
        return false;
    rpc::XdrReader in(record);
    if (!rpc::DecodeReplyHeader(in, reply) || reply.xid != xid)
        return false;
    results.assign(record.end() - static_cast<std::ptrdiff_t>(in.Remaining()), record.end());
    return true;
}

std::int32_t CreateLink(RpcClient& c, std::uint32_t* maxRecv) {
    rpc::CreateLinkResp resp{.error = -1};
    EXPECT_TRUE(c.Vxi11(rpc::VXI11_CREATE_LINK, rpc::CreateLinkParms{1, false, 0, "inst0"}, resp));
    EXPECT_EQ(resp.error, 0);
    if (maxRecv != nullptr)
        *maxRecv = resp.maxRecvSize;
    return resp.linkId;
}

rpc::DeviceWriteResp Vxi11Write(RpcClient& c, std::int32_t linkId, const std::string& data,
                                bool end) {
    const rpc::ByteView bytes(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    rpc::DeviceWriteResp resp{.error = -1};
    c.Vxi11(rpc::VXI11_DEVICE_WRITE,
            rpc::DeviceWriteParms{linkId, 1000, 0, end ? rpc::kVxi11FlagEnd : 0, bytes}, resp);
    return resp;
}

rpc::DeviceReadResp Vxi11Read(RpcClient& c, std::int32_t linkId, std::uint32_t size,
                              std::string& data, std::uint32_t ioTimeout) {
    rpc::DeviceReadResp resp;
    resp.error = -1;
    c.Vxi11(rpc::VXI11_DEVICE_READ, rpc::DeviceReadParms{linkId, size, ioTimeout, 0, 0, 0}, resp,
            static_cast<int>(ioTimeout) + 3000);
    data.assign(reinterpret_cast<const char*>(resp.data.data()), resp.data.size());
    return resp;
}

} // namespace quarvel::test
