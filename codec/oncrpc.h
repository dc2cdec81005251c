#pragma once

// ONC RPC (RFC 5531) over TCP as the VXI-11 client and the simulator's server
// both speak it: XDR primitives, call and reply headers (AUTH_NONE), record
// marking, the portmapper's GETPORT and the messages of the VXI-11 core
// channel. What only a server needs (admitting calls, encoding replies,
// reassembling records) is sim/rpc_server.h; the client's reader is
// visa/rpc_client.h. Every decoder is strict and bounded: it never reads past its input,
// rejects lengths beyond the remaining bytes or the given maximum, and reports
// failure instead of throwing. Encoders append to a byte vector.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::visa::rpc {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// ---------------------------------------------------------------- XDR ----

// Appends XDR items (big-endian 32-bit units, opaque data padded to 4 bytes).
class XdrWriter {
public:
    explicit XdrWriter(Bytes& out) : m_out(out) {}
    void PutUint32(std::uint32_t value);
    void PutInt32(std::int32_t value) { PutUint32(static_cast<std::uint32_t>(value)); }
    void PutBool(bool value) { PutUint32(value ? 1u : 0u); }
    // Variable-length opaque<>: length, bytes, zero padding.
    void PutOpaque(ByteView data);
    void PutString(std::string_view text);

private:
    Bytes& m_out;
};

// Reads XDR items from a byte range it does not own. Any failure (too few
// bytes, length over the limit, bad bool) makes the reader fail for good:
// Ok() turns false and every later Get returns false, so a decoder can read a
// whole struct and check once.
class XdrReader {
public:
    explicit XdrReader(ByteView data) : m_data(data) {}
    bool GetUint32(std::uint32_t& value);
    bool GetInt32(std::int32_t& value);
    bool GetBool(bool& value);
    // opaque<maxLength>: the view points into the reader's input (no copy).
    bool GetOpaque(ByteView& data, std::size_t maxLength);
    bool GetString(std::string& text, std::size_t maxLength);
    // Only the length word of an opaque<maxLength> whose bytes the caller
    // reads elsewhere (streamed data); checks the limit, not the input.
    bool GetOpaqueLength(std::uint32_t& length, std::size_t maxLength);
    // Skips an opaque<maxLength> item (e.g. an authentication body).
    bool SkipOpaque(std::size_t maxLength);

    bool Ok() const { return m_ok; }
    std::size_t Remaining() const { return m_data.size() - m_pos; }
    // Ok and every byte consumed: what a decoder of a complete message wants.
    bool Done() const { return m_ok && m_pos == m_data.size(); }

private:
    bool Fail() {
        m_ok = false;
        return false;
    }
    ByteView m_data;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// ----------------------------------------------------- RPC messages ----

constexpr std::uint32_t kRpcVersion = 2;
constexpr std::uint32_t kMsgCall = 0;
constexpr std::uint32_t kMsgReply = 1;
constexpr std::uint32_t kAuthNone = 0;
// RFC 5531 limits an authentication body to 400 bytes.
constexpr std::size_t kMaxAuthBody = 400;

enum ReplyStat : std::uint32_t { MSG_ACCEPTED = 0, MSG_DENIED = 1 };
enum AcceptStat : std::uint32_t {
    ACCEPT_SUCCESS = 0,
    PROG_UNAVAIL = 1,
    PROG_MISMATCH = 2,
    PROC_UNAVAIL = 3,
    GARBAGE_ARGS = 4,
    SYSTEM_ERR = 5,
};
enum RejectStat : std::uint32_t { RPC_MISMATCH = 0, AUTH_ERROR = 1 };

struct CallHeader {
    std::uint32_t xid = 0;
    std::uint32_t rpcVersion = kRpcVersion;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
};

// Call header with AUTH_NONE credentials and verifier; the arguments follow.
void EncodeCallHeader(Bytes& out, const CallHeader& call);
// Accepts any credential flavour (bodies skipped, bounded). Fails when the
// message is not a CALL or is cut short. rpcVersion is returned as sent, so a
// server can answer RPC_MISMATCH itself.
bool DecodeCallHeader(XdrReader& in, CallHeader& call);

struct ReplyHeader {
    std::uint32_t xid = 0;
    std::uint32_t replyStat = MSG_ACCEPTED;
    // MSG_ACCEPTED: the AcceptStat; MSG_DENIED: the RejectStat.
    std::uint32_t stat = ACCEPT_SUCCESS;
    // PROG_MISMATCH and RPC_MISMATCH: the supported version range;
    // AUTH_ERROR: the auth_stat in mismatchLow.
    std::uint32_t mismatchLow = 0;
    std::uint32_t mismatchHigh = 0;
};

// Fails when the message is not a REPLY or is malformed; the results (if any)
// remain in the reader.
bool DecodeReplyHeader(XdrReader& in, ReplyHeader& reply);
inline bool ReplySucceeded(const ReplyHeader& r) {
    return r.replyStat == MSG_ACCEPTED && r.stat == ACCEPT_SUCCESS;
}

// ------------------------------------------------- Record marking ----

constexpr std::uint32_t kLastFragmentBit = 0x80000000u;
constexpr std::uint32_t kMaxFragmentLength = 0x7FFFFFFFu;

std::array<std::uint8_t, 4> EncodeFragmentHeader(std::uint32_t length, bool last);
struct FragmentHeader {
    std::uint32_t length = 0;
    bool last = false;
};
FragmentHeader DecodeFragmentHeader(const std::uint8_t* fourBytes);

// ----------------------------------------------------- Portmapper ----

constexpr std::uint32_t kPortmapProgram = 100000;
constexpr std::uint32_t kPortmapVersion = 2;
constexpr std::uint32_t kPortmapProcGetPort = 3;
constexpr std::uint32_t kIpProtoTcp = 6;
constexpr std::uint32_t kIpProtoUdp = 17;

struct PortmapMapping {
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t protocol = kIpProtoTcp;
    std::uint32_t port = 0;
};
void Encode(Bytes& out, const PortmapMapping& m);
bool Decode(XdrReader& in, PortmapMapping& m);
// GETPORT result: the port, 0 when the program is not registered.
void EncodeGetPortResult(Bytes& out, std::uint32_t port);
bool DecodeGetPortResult(XdrReader& in, std::uint32_t& port);
// GETPORT as one UDP datagram (no record mark), the way discovery asks every
// host of a network at once, and its answer. The reply decoder accepts only
// the accepted, successful reply to xid with one whole result and nothing
// after it; port is 0 when the host has no such program registered.
Bytes EncodeGetPortDatagram(std::uint32_t xid, const PortmapMapping& query);
bool DecodeGetPortDatagram(ByteView datagram, std::uint32_t xid, std::uint32_t& port);

// ------------------------------------------- VXI-11 core channel ----

constexpr std::uint32_t kVxi11CoreProgram = 0x0607AF;
constexpr std::uint32_t kVxi11CoreVersion = 1;

enum Vxi11Proc : std::uint32_t {
    VXI11_CREATE_LINK = 10,
    VXI11_DEVICE_WRITE = 11,
    VXI11_DEVICE_READ = 12,
    VXI11_DEVICE_READSTB = 13,
    VXI11_DEVICE_CLEAR = 15,
    VXI11_DEVICE_LOCK = 18,
    VXI11_DEVICE_UNLOCK = 19,
    VXI11_DESTROY_LINK = 23,
};

// Device_Flags bits.
constexpr std::int32_t kVxi11FlagWaitLock = 0x01;
constexpr std::int32_t kVxi11FlagEnd = 0x08;
constexpr std::int32_t kVxi11FlagTermCharSet = 0x80;
// Device_ReadResp reason bits.
constexpr std::int32_t kVxi11ReasonRequestCount = 0x01;
constexpr std::int32_t kVxi11ReasonTermChar = 0x02;
constexpr std::int32_t kVxi11ReasonEnd = 0x04;

// Device_ErrorCode values.
enum Vxi11Error : std::int32_t {
    VXI11_NO_ERROR = 0,
    VXI11_SYNTAX_ERROR = 1,
    VXI11_DEVICE_NOT_ACCESSIBLE = 3,
    VXI11_INVALID_LINK = 4,
    VXI11_PARAMETER_ERROR = 5,
    VXI11_CHANNEL_NOT_ESTABLISHED = 6,
    VXI11_OPERATION_NOT_SUPPORTED = 8,
    VXI11_OUT_OF_RESOURCES = 9,
    VXI11_DEVICE_LOCKED = 11,
    VXI11_NO_LOCK_HELD = 12,
    VXI11_IO_TIMEOUT = 15,
    VXI11_IO_ERROR = 17,
    VXI11_INVALID_ADDRESS = 21,
    VXI11_ABORT = 23,
    VXI11_CHANNEL_ALREADY_ESTABLISHED = 29,
};

// Upper bounds the decoders enforce.
constexpr std::size_t kVxi11MaxDeviceName = 256;
constexpr std::size_t kVxi11MaxData = 64u * 1024u * 1024u;

struct CreateLinkParms {
    std::int32_t clientId = 0;
    bool lockDevice = false;
    std::uint32_t lockTimeout = 0;
    std::string device;
};
struct CreateLinkResp {
    std::int32_t error = 0;
    std::int32_t linkId = 0;
    std::uint32_t abortPort = 0; // unsigned short on the wire (as 32 bits)
    std::uint32_t maxRecvSize = 0;
};
// Data views point into the encoder's caller buffer or the decoder's input.
struct DeviceWriteParms {
    std::int32_t linkId = 0;
    std::uint32_t ioTimeout = 0;
    std::uint32_t lockTimeout = 0;
    std::int32_t flags = 0;
    ByteView data;
};
struct DeviceWriteResp {
    std::int32_t error = 0;
    std::uint32_t size = 0;
};
struct DeviceReadParms {
    std::int32_t linkId = 0;
    std::uint32_t requestSize = 0;
    std::uint32_t ioTimeout = 0;
    std::uint32_t lockTimeout = 0;
    std::int32_t flags = 0;
    std::uint8_t termChar = 0; // char on the wire (as 32 bits)
};
struct DeviceReadResp {
    std::int32_t error = 0;
    std::int32_t reason = 0;
    ByteView data;
};
// Parameters of device_clear, device_readstb (and trigger/local/remote).
struct DeviceGenericParms {
    std::int32_t linkId = 0;
    std::int32_t flags = 0;
    std::uint32_t lockTimeout = 0;
    std::uint32_t ioTimeout = 0;
};
struct DeviceReadStbResp {
    std::int32_t error = 0;
    std::uint8_t stb = 0;
};
// Argument of device_lock.
struct DeviceLockParms {
    std::int32_t linkId = 0;
    std::int32_t flags = 0; // kVxi11FlagWaitLock: wait up to lockTimeout
    std::uint32_t lockTimeout = 0;
};
// Result of device_clear, device_lock, device_unlock and destroy_link.
struct DeviceError {
    std::int32_t error = 0;
};
// Argument of destroy_link.
struct DeviceLink {
    std::int32_t linkId = 0;
};

void Encode(Bytes& out, const CreateLinkParms& m);
void Encode(Bytes& out, const CreateLinkResp& m);
void Encode(Bytes& out, const DeviceWriteParms& m);
void Encode(Bytes& out, const DeviceWriteResp& m);
void Encode(Bytes& out, const DeviceReadParms& m);
void Encode(Bytes& out, const DeviceReadResp& m);
void Encode(Bytes& out, const DeviceGenericParms& m);
void Encode(Bytes& out, const DeviceReadStbResp& m);
void Encode(Bytes& out, const DeviceError& m);
void Encode(Bytes& out, const DeviceLink& m);
void Encode(Bytes& out, const DeviceLockParms& m);

bool Decode(XdrReader& in, CreateLinkParms& m);
bool Decode(XdrReader& in, CreateLinkResp& m);
bool Decode(XdrReader& in, DeviceWriteParms& m);
bool Decode(XdrReader& in, DeviceWriteResp& m);
bool Decode(XdrReader& in, DeviceReadParms& m);
bool Decode(XdrReader& in, DeviceReadResp& m);
bool Decode(XdrReader& in, DeviceGenericParms& m);
bool Decode(XdrReader& in, DeviceReadStbResp& m);
bool Decode(XdrReader& in, DeviceError& m);
bool Decode(XdrReader& in, DeviceLink& m);
bool Decode(XdrReader& in, DeviceLockParms& m);

// The fixed part of a Device_ReadResp (error, reason, data length), for a
// client that streams the data bytes straight into their destination; the
// data (dataLength bytes plus padding to 4) follows in the record.
bool DecodeDeviceReadRespHead(XdrReader& in, DeviceReadResp& m, std::uint32_t& dataLength,
                              std::size_t maxLength);
// Its counterpart for a server that sends the data (m.data) from where it
// lies: error, reason and data length only; the data and XdrPadding() zero
// bytes are to follow.
void EncodeDeviceReadRespHead(Bytes& out, const DeviceReadResp& m);
inline std::size_t XdrPadding(std::size_t length) {
    return (4 - (length & 3)) & 3;
}

} // namespace quarvel::visa::rpc
