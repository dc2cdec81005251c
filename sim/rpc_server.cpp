#include "sim/rpc_server.h"

#include <algorithm>

namespace quarvel::sim {

namespace rpc = visa::rpc;

void EncodeAcceptedReply(rpc::Bytes& out, std::uint32_t xid, rpc::AcceptStat stat,
                         std::uint32_t low, std::uint32_t high) {
    rpc::XdrWriter w(out);
    w.PutUint32(xid);
    w.PutUint32(rpc::kMsgReply);
    w.PutUint32(rpc::MSG_ACCEPTED);
    w.PutUint32(rpc::kAuthNone);
    w.PutUint32(0);
    w.PutUint32(stat);
    if (stat == rpc::PROG_MISMATCH) {
        w.PutUint32(low);
        w.PutUint32(high);
    }
}

void EncodeDeniedReply(rpc::Bytes& out, std::uint32_t xid, rpc::RejectStat stat, std::uint32_t low,
                       std::uint32_t high) {
    rpc::XdrWriter w(out);
    w.PutUint32(xid);
    w.PutUint32(rpc::kMsgReply);
    w.PutUint32(rpc::MSG_DENIED);
    w.PutUint32(stat);
    w.PutUint32(low);
    if (stat == rpc::RPC_MISMATCH)
        w.PutUint32(high);
}

bool AdmitCall(const rpc::CallHeader& call, std::uint32_t program, std::uint32_t version,
               rpc::Bytes& out) {
    if (call.rpcVersion != rpc::kRpcVersion) {
        EncodeDeniedReply(out, call.xid, rpc::RPC_MISMATCH, rpc::kRpcVersion, rpc::kRpcVersion);
        return false;
    }
    if (call.program != program) {
        EncodeAcceptedReply(out, call.xid, rpc::PROG_UNAVAIL);
        return false;
    }
    if (call.version != version) {
        EncodeAcceptedReply(out, call.xid, rpc::PROG_MISMATCH, version, version);
        return false;
    }
    return true;
}

void AppendRecord(rpc::Bytes& out, rpc::ByteView record, std::uint32_t maxFragment) {
    maxFragment = std::clamp<std::uint32_t>(maxFragment, 1, rpc::kMaxFragmentLength);
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(maxFragment, record.size() - pos);
        const bool last = pos + n == record.size();
        const auto header = rpc::EncodeFragmentHeader(static_cast<std::uint32_t>(n), last);
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), record.begin() + static_cast<std::ptrdiff_t>(pos),
                   record.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < record.size());
}

RecordAssembler::State RecordAssembler::Feed(rpc::ByteView data, std::size_t* consumed) {
    std::size_t pos = 0;
    while (m_state == State::NeedMore && pos < data.size()) {
        if (!m_inFragment) {
            const std::size_t n = std::min(data.size() - pos, 4 - m_headerFill);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), n,
                        m_header.begin() + static_cast<std::ptrdiff_t>(m_headerFill));
            m_headerFill += n;
            pos += n;
            if (m_headerFill < 4)
                break;
            const rpc::FragmentHeader h = rpc::DecodeFragmentHeader(m_header.data());
            m_headerFill = 0;
            if (h.length > m_maxRecord - m_record.size()) {
                m_state = State::TooLarge;
                break;
            }
            m_fragmentLeft = h.length;
            m_lastFragment = h.last;
            m_inFragment = true;
        }
        const std::size_t n = std::min<std::size_t>(data.size() - pos, m_fragmentLeft);
        m_record.insert(m_record.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                        data.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        m_fragmentLeft -= static_cast<std::uint32_t>(n);
        if (m_fragmentLeft == 0) {
            m_inFragment = false;
            if (m_lastFragment)
                m_state = State::RecordReady;
        }
    }
    if (consumed)
        *consumed = pos;
    return m_state;
}

rpc::Bytes RecordAssembler::TakeRecord() {
    rpc::Bytes record;
    record.swap(m_record);
    m_state = State::NeedMore;
    m_inFragment = false;
    m_lastFragment = false;
    m_headerFill = 0;
    m_fragmentLeft = 0;
    return record;
}

} // namespace quarvel::sim
