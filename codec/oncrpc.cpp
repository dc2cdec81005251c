#include "codec/oncrpc.h"

#include <algorithm>

namespace quarvel::visa::rpc {

namespace {

std::size_t Padding(std::size_t length) {
    return (4 - (length & 3)) & 3;
}

} // namespace

// ---------------------------------------------------------------- XDR ----

void XdrWriter::PutUint32(std::uint32_t value) {
    m_out.push_back(static_cast<std::uint8_t>(value >> 24));
    m_out.push_back(static_cast<std::uint8_t>(value >> 16));
    m_out.push_back(static_cast<std::uint8_t>(value >> 8));
    m_out.push_back(static_cast<std::uint8_t>(value));
}

void XdrWriter::PutOpaque(ByteView data) {
    PutUint32(static_cast<std::uint32_t>(data.size()));
    // Data and padding in one growth of the vector: appended one after the
    // other, a megabyte of data followed by padding was copied twice into two
    // fresh allocations.
    const std::size_t at = m_out.size();
    m_out.resize(at + data.size() + Padding(data.size()));
    std::copy(data.begin(), data.end(), m_out.begin() + static_cast<std::ptrdiff_t>(at));
}

void XdrWriter::PutString(std::string_view text) {
    PutOpaque(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool XdrReader::GetUint32(std::uint32_t& value) {
    if (!m_ok || Remaining() < 4)
        return Fail();
    const std::uint8_t* p = m_data.data() + m_pos;
    value = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
            std::uint32_t{p[3]};
    m_pos += 4;
    return true;
}

bool XdrReader::GetInt32(std::int32_t& value) {
    std::uint32_t raw = 0;
    if (!GetUint32(raw))
        return false;
    value = static_cast<std::int32_t>(raw);
    return true;
}

bool XdrReader::GetBool(bool& value) {
    std::uint32_t raw = 0;
    if (!GetUint32(raw))
        return false;
    if (raw > 1)
        return Fail();
    value = raw == 1;
    return true;
}

bool XdrReader::GetOpaque(ByteView& data, std::size_t maxLength) {
    std::uint32_t length = 0;
    if (!GetUint32(length))
        return false;
    // Compare before adding the padding, so nothing can overflow.
    if (length > maxLength || length > Remaining())
        return Fail();
    const std::size_t padding = Padding(length);
    if (Remaining() - length < padding)
        return Fail();
    data = m_data.subspan(m_pos, length);
    m_pos += length + padding;
    return true;
}

bool XdrReader::GetString(std::string& text, std::size_t maxLength) {
    ByteView data;
    if (!GetOpaque(data, maxLength))
        return false;
    text.assign(reinterpret_cast<const char*>(data.data()), data.size());
    return true;
}

bool XdrReader::GetOpaqueLength(std::uint32_t& length, std::size_t maxLength) {
    if (!GetUint32(length))
        return false;
    if (length > maxLength)
        return Fail();
    return true;
}

bool XdrReader::SkipOpaque(std::size_t maxLength) {
    ByteView ignored;
    return GetOpaque(ignored, maxLength);
}

// ----------------------------------------------------- RPC messages ----

void EncodeCallHeader(Bytes& out, const CallHeader& call) {
    XdrWriter w(out);
    w.PutUint32(call.xid);
    w.PutUint32(kMsgCall);
    w.PutUint32(call.rpcVersion);
    w.PutUint32(call.program);
    w.PutUint32(call.version);
    w.PutUint32(call.procedure);
    w.PutUint32(kAuthNone); // credentials
    w.PutUint32(0);
    w.PutUint32(kAuthNone); // verifier
    w.PutUint32(0);
}

bool DecodeCallHeader(XdrReader& in, CallHeader& call) {
    std::uint32_t msgType = 0;
    std::uint32_t flavour = 0;
    in.GetUint32(call.xid);
    if (!in.GetUint32(msgType) || msgType != kMsgCall)
        return false;
    in.GetUint32(call.rpcVersion);
    in.GetUint32(call.program);
    in.GetUint32(call.version);
    in.GetUint32(call.procedure);
    in.GetUint32(flavour);
    in.SkipOpaque(kMaxAuthBody);
    in.GetUint32(flavour);
    in.SkipOpaque(kMaxAuthBody);
    return in.Ok();
}

bool DecodeReplyHeader(XdrReader& in, ReplyHeader& reply) {
    std::uint32_t msgType = 0;
    in.GetUint32(reply.xid);
    if (!in.GetUint32(msgType) || msgType != kMsgReply)
        return false;
    if (!in.GetUint32(reply.replyStat))
        return false;
    if (reply.replyStat == MSG_ACCEPTED) {
        std::uint32_t flavour = 0;
        in.GetUint32(flavour);
        in.SkipOpaque(kMaxAuthBody);
        if (!in.GetUint32(reply.stat))
            return false;
        if (reply.stat == PROG_MISMATCH) {
            in.GetUint32(reply.mismatchLow);
            in.GetUint32(reply.mismatchHigh);
        }
        return in.Ok();
    }
    if (reply.replyStat == MSG_DENIED) {
        if (!in.GetUint32(reply.stat))
            return false;
        if (reply.stat == RPC_MISMATCH) {
            in.GetUint32(reply.mismatchLow);
            in.GetUint32(reply.mismatchHigh);
        } else if (reply.stat == AUTH_ERROR) {
            in.GetUint32(reply.mismatchLow);
        } else {
            return false;
        }
        return in.Ok();
    }
    return false;
}

// ------------------------------------------------- Record marking ----

std::array<std::uint8_t, 4> EncodeFragmentHeader(std::uint32_t length, bool last) {
    const std::uint32_t word = (length & kMaxFragmentLength) | (last ? kLastFragmentBit : 0u);
    return {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
            static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
}

FragmentHeader DecodeFragmentHeader(const std::uint8_t* p) {
    const std::uint32_t word = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                               (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
    return {word & kMaxFragmentLength, (word & kLastFragmentBit) != 0};
}

// ----------------------------------------------------- Portmapper ----

void Encode(Bytes& out, const PortmapMapping& m) {
    XdrWriter w(out);
    w.PutUint32(m.program);
    w.PutUint32(m.version);
    w.PutUint32(m.protocol);
    w.PutUint32(m.port);
}

bool Decode(XdrReader& in, PortmapMapping& m) {
    in.GetUint32(m.program);
    in.GetUint32(m.version);
    in.GetUint32(m.protocol);
    in.GetUint32(m.port);
    return in.Ok();
}

void EncodeGetPortResult(Bytes& out, std::uint32_t port) {
    XdrWriter(out).PutUint32(port);
}

bool DecodeGetPortResult(XdrReader& in, std::uint32_t& port) {
    // A TCP port fits in 16 bits; anything larger is a malformed answer.
    return in.GetUint32(port) && port <= 0xFFFF;
}

Bytes EncodeGetPortDatagram(std::uint32_t xid, const PortmapMapping& query) {
    Bytes out;
    EncodeCallHeader(out,
                     {xid, kRpcVersion, kPortmapProgram, kPortmapVersion, kPortmapProcGetPort});
    Encode(out, query);
    return out;
}

bool DecodeGetPortDatagram(ByteView datagram, std::uint32_t xid, std::uint32_t& port) {
    XdrReader in(datagram);
    ReplyHeader reply;
    std::uint32_t found = 0;
    if (!DecodeReplyHeader(in, reply) || reply.xid != xid || !ReplySucceeded(reply) ||
        !DecodeGetPortResult(in, found) || !in.Done())
        return false;
    port = found;
    return true;
}

// ------------------------------------------- VXI-11 core channel ----

void Encode(Bytes& out, const CreateLinkParms& m) {
    XdrWriter w(out);
    w.PutInt32(m.clientId);
    w.PutBool(m.lockDevice);
    w.PutUint32(m.lockTimeout);
    w.PutString(m.device);
}

void Encode(Bytes& out, const CreateLinkResp& m) {
    XdrWriter w(out);
    w.PutInt32(m.error);
    w.PutInt32(m.linkId);
    w.PutUint32(m.abortPort & 0xFFFF);
    w.PutUint32(m.maxRecvSize);
}

void Encode(Bytes& out, const DeviceWriteParms& m) {
    XdrWriter w(out);
    w.PutInt32(m.linkId);
    w.PutUint32(m.ioTimeout);
    w.PutUint32(m.lockTimeout);
    w.PutInt32(m.flags);
    w.PutOpaque(m.data);
}

void Encode(Bytes& out, const DeviceWriteResp& m) {
    XdrWriter w(out);
    w.PutInt32(m.error);
    w.PutUint32(m.size);
}

void Encode(Bytes& out, const DeviceReadParms& m) {
    XdrWriter w(out);
    w.PutInt32(m.linkId);
    w.PutUint32(m.requestSize);
    w.PutUint32(m.ioTimeout);
    w.PutUint32(m.lockTimeout);
    w.PutInt32(m.flags);
    w.PutUint32(m.termChar);
}

void Encode(Bytes& out, const DeviceReadResp& m) {
    XdrWriter w(out);
    w.PutInt32(m.error);
    w.PutInt32(m.reason);
    w.PutOpaque(m.data);
}

void EncodeDeviceReadRespHead(Bytes& out, const DeviceReadResp& m) {
    XdrWriter w(out);
    w.PutInt32(m.error);
    w.PutInt32(m.reason);
    w.PutUint32(static_cast<std::uint32_t>(m.data.size()));
}

void Encode(Bytes& out, const DeviceGenericParms& m) {
    XdrWriter w(out);
    w.PutInt32(m.linkId);
    w.PutInt32(m.flags);
    w.PutUint32(m.lockTimeout);
    w.PutUint32(m.ioTimeout);
}

void Encode(Bytes& out, const DeviceReadStbResp& m) {
    XdrWriter w(out);
    w.PutInt32(m.error);
    w.PutUint32(m.stb);
}

void Encode(Bytes& out, const DeviceError& m) {
    XdrWriter(out).PutInt32(m.error);
}

void Encode(Bytes& out, const DeviceLink& m) {
    XdrWriter(out).PutInt32(m.linkId);
}

bool Decode(XdrReader& in, CreateLinkParms& m) {
    in.GetInt32(m.clientId);
    in.GetBool(m.lockDevice);
    in.GetUint32(m.lockTimeout);
    in.GetString(m.device, kVxi11MaxDeviceName);
    return in.Ok();
}

bool Decode(XdrReader& in, CreateLinkResp& m) {
    in.GetInt32(m.error);
    in.GetInt32(m.linkId);
    in.GetUint32(m.abortPort);
    in.GetUint32(m.maxRecvSize);
    return in.Ok() && m.abortPort <= 0xFFFF;
}

bool Decode(XdrReader& in, DeviceWriteParms& m) {
    in.GetInt32(m.linkId);
    in.GetUint32(m.ioTimeout);
    in.GetUint32(m.lockTimeout);
    in.GetInt32(m.flags);
    in.GetOpaque(m.data, kVxi11MaxData);
    return in.Ok();
}

bool Decode(XdrReader& in, DeviceWriteResp& m) {
    in.GetInt32(m.error);
    in.GetUint32(m.size);
    return in.Ok();
}

bool Decode(XdrReader& in, DeviceReadParms& m) {
    std::uint32_t termChar = 0;
    in.GetInt32(m.linkId);
    in.GetUint32(m.requestSize);
    in.GetUint32(m.ioTimeout);
    in.GetUint32(m.lockTimeout);
    in.GetInt32(m.flags);
    in.GetUint32(termChar);
    // A char travels as a 32-bit int; keep its low byte, as rpcgen's xdr_char does.
    m.termChar = static_cast<std::uint8_t>(termChar);
    return in.Ok();
}

bool Decode(XdrReader& in, DeviceReadResp& m) {
    in.GetInt32(m.error);
    in.GetInt32(m.reason);
    in.GetOpaque(m.data, kVxi11MaxData);
    return in.Ok();
}

bool Decode(XdrReader& in, DeviceGenericParms& m) {
    in.GetInt32(m.linkId);
    in.GetInt32(m.flags);
    in.GetUint32(m.lockTimeout);
    in.GetUint32(m.ioTimeout);
    return in.Ok();
}

bool Decode(XdrReader& in, DeviceReadStbResp& m) {
    std::uint32_t stb = 0;
    in.GetInt32(m.error);
    in.GetUint32(stb);
    m.stb = static_cast<std::uint8_t>(stb);
    return in.Ok();
}

bool Decode(XdrReader& in, DeviceError& m) {
    return in.GetInt32(m.error);
}

bool Decode(XdrReader& in, DeviceLink& m) {
    return in.GetInt32(m.linkId);
}

void Encode(Bytes& out, const DeviceLockParms& m) {
    XdrWriter w(out);
    w.PutInt32(m.linkId);
    w.PutInt32(m.flags);
    w.PutUint32(m.lockTimeout);
}

bool Decode(XdrReader& in, DeviceLockParms& m) {
    in.GetInt32(m.linkId);
    in.GetInt32(m.flags);
    in.GetUint32(m.lockTimeout);
    return in.Ok();
}

} // namespace quarvel::visa::rpc

namespace quarvel::visa::rpc {

bool DecodeDeviceReadRespHead(XdrReader& in, DeviceReadResp& m, std::uint32_t& dataLength,
                              std::size_t maxLength) {
    in.GetInt32(m.error);
    in.GetInt32(m.reason);
    in.GetOpaqueLength(dataLength, maxLength);
    m.data = {};
    return in.Ok();
}

} // namespace quarvel::visa::rpc
