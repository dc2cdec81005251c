// Fuzzes what the VXI-11 client reads from the network with the client's own
// code: RpcClient's record reader (fragments, bounds, replies with stale
// transaction ids) and reply decoding for small calls and device_read, then
// the result decoders the transport applies (GETPORT, create_link,
// device_write, device_readstb, Device_Error).
//
// Input: byte 0 picks the read capacity, the rest is what the "server" sends.
// The client's transaction ids start at 1, so inputs can answer them.

#include "visa/rpc_client.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace rpc = quarvel::visa::rpc;
using quarvel::visa::Deadline;
using quarvel::visa::RpcClient;

namespace {

class FuzzStream final : public quarvel::visa::IByteStream {
public:
    FuzzStream(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    ViStatus SendAll(std::span<const std::span<const std::uint8_t>>, Deadline,
                     quarvel::visa::ProgressMeter*) override {
        return VI_SUCCESS;
    }
    ViStatus ReceiveExact(std::uint8_t* data, std::size_t size, Deadline,
                          quarvel::visa::ProgressMeter*) override {
        if (size > m_size - m_pos) {
            m_pos = m_size;
            return VI_ERROR_CONN_LOST;
        }
        std::memcpy(data, m_data + m_pos, size);
        m_pos += size;
        return VI_SUCCESS;
    }
    bool Exhausted() const { return m_pos == m_size; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

void DecodeResults(const rpc::Bytes& results, unsigned kind) {
    rpc::XdrReader in(results);
    switch (kind % 5) {
    case 0: {
        std::uint32_t port = 0;
        if (rpc::DecodeGetPortResult(in, port) && port > 0xFFFF)
            std::abort();
        break;
    }
    case 1: {
        rpc::CreateLinkResp m;
        if (rpc::Decode(in, m) && m.abortPort > 0xFFFF)
            std::abort();
        break;
    }
    case 2: {
        rpc::DeviceWriteResp m;
        rpc::Decode(in, m);
        break;
    }
    case 3: {
        rpc::DeviceReadStbResp m;
        rpc::Decode(in, m);
        break;
    }
    default: {
        rpc::DeviceError m;
        rpc::Decode(in, m);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t capacity = 1 + std::size_t{data[0]} * 64;
    auto owned = std::make_unique<FuzzStream>(data + 1, size - 1);
    FuzzStream& stream = *owned;
    RpcClient client(std::move(owned), rpc::kVxi11CoreProgram, rpc::kVxi11CoreVersion, 0);
    // Odd reads pass a spill area behind the buffer (the read-ahead): the
    // data is cut between the two, with a guard after each.
    const std::size_t spillSize = capacity / 2;
    std::vector<std::uint8_t> buffer(capacity + 16, 0xA5);
    std::vector<std::uint8_t> spill(spillSize + 16, 0xA5);
    const rpc::Bytes args{0, 0, 0, 1};
    // Alternate small calls and reads until the input is used up or the
    // client gives the stream up; each call reads at least one header.
    for (unsigned call = 0; !stream.Exhausted() && !client.IsBroken() && call < 1000; ++call) {
        if (call % 2 == 0) {
            rpc::Bytes results;
            if (client.Call(rpc::VXI11_DEVICE_WRITE, args, Deadline::max(), results) ==
                VI_SUCCESS) {
                if (results.size() > RpcClient::kMaxSmallReply)
                    std::abort();
                DecodeResults(results, call / 2);
            }
        } else {
            const std::size_t spilled = call % 4 == 3 ? spillSize : 0;
            rpc::DeviceReadParms parms;
            parms.requestSize = static_cast<std::uint32_t>(capacity + spilled);
            rpc::DeviceReadResp resp;
            std::size_t count = 0;
            const ViStatus s =
                client.CallRead(parms, Deadline::max(), buffer.data(), capacity, resp, count,
                                nullptr, std::span<std::uint8_t>(spill.data(), spilled));
            // Never more than asked, never past the buffer or the spill area.
            if (s == VI_SUCCESS && count > capacity + spilled)
                std::abort();
            for (std::size_t i = capacity; i < buffer.size(); ++i)
                if (buffer[i] != 0xA5)
                    std::abort();
            for (std::size_t i = spillSize; i < spill.size(); ++i)
                if (spill[i] != 0xA5)
                    std::abort();
        }
    }
    return 0;
}
