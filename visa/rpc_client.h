#pragma once

// The client half of ONC RPC over a byte stream, as the VXI-11 transport and
// the portmapper query use it: each call goes out as one record; a reply is
// read fragment by fragment, so device_read data lands in the caller's memory
// without a copy; replies to earlier calls (a stale transaction id, the late
// answer to a call that timed out) are read and dropped. Every length a peer
// sends is bounded before anything is read or stored.

#include "codec/oncrpc.h"
#include "visa/byte_stream.h"

#include <memory>
#include <span>

namespace quarvel::visa {

// A transaction id to start from that differs between processes and
// connections, so a late reply on a reused port is not taken for ours.
std::uint32_t NewXidBase();

// One RPC program on one connection.
class RpcClient {
public:
    // Replies other than device_read are at most this long.
    static constexpr std::size_t kMaxSmallReply = 64 * 1024;

    RpcClient(std::unique_ptr<IByteStream> stream, std::uint32_t program, std::uint32_t version,
              std::uint32_t firstXid = NewXidBase());

    // A call whose reply is small: results holds what follows the reply header.
    ViStatus Call(std::uint32_t procedure, const rpc::Bytes& args, Deadline deadline,
                  rpc::Bytes& results, ProgressMeter* progress = nullptr);
    // device_read: the data goes straight into data[0..capacity), and what
    // does not fit there into spill (a read-ahead; the request may ask for
    // capacity + spill.size()); count is the number of data bytes in both,
    // resp the error and reason.
    ViStatus CallRead(const rpc::DeviceReadParms& parms, Deadline deadline, std::uint8_t* data,
                      std::size_t capacity, rpc::DeviceReadResp& resp, std::size_t& count,
                      ProgressMeter* progress = nullptr, std::span<std::uint8_t> spill = {});
    // A record read part-way, a malformed reply or a half-sent call leave the
    // stream unusable; every later call fails.
    bool IsBroken() const { return m_broken; }

private:
    class RecordReader;
    ViStatus Send(std::uint32_t procedure, const rpc::Bytes& args, Deadline deadline,
                  std::uint32_t& xid, ProgressMeter* progress);
    ViStatus Failed(ViStatus s, const RecordReader& reader);
    ViStatus Broken(ViStatus s) {
        m_broken = true;
        return s;
    }

    std::unique_ptr<IByteStream> m_stream;
    std::uint32_t m_program;
    std::uint32_t m_version;
    std::uint32_t m_xid;
    bool m_broken = false;
};

} // namespace quarvel::visa
