// VXI-11 transport ("TCPIP::host[::device][::INSTR]"): the core channel over
// ONC RPC on TCP, found through the portmapper. Written here rather than
// taken from a library, so that replies arriving in any number of TCP pieces,
// the server's maxRecvSize and the session timeout are all honoured.

#include "visa/builtin_transports.h"
#include "visa/oncrpc.h"
#include "visa/tcp_connection.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unistd.h>

namespace quarvel::visa {

namespace {

namespace rpc = quarvel::visa::rpc;

// The socket waits this much longer than the io_timeout given to the device,
// so that the device's own timeout reply (error 15) arrives first.
constexpr ViUInt32 kSocketGraceMs = 1000;
// Replies other than device_read are a few words.
constexpr std::size_t kMaxSmallReply = 64 * 1024;
// Room for the reply and read headers in front of device_read data.
constexpr std::size_t kReplyHeadRoom = 1024;
constexpr std::size_t kPrefixSize = 512;
// The largest device_read we ask for at once.
constexpr std::uint32_t kMaxReadRequest = 16u * 1024u * 1024u;

struct ErrorRow {
    std::int32_t vxi11;
    ViStatus visa;
};
// VXI-11 Device_ErrorCode to VISA status; codes not listed give VI_ERROR_IO.
constexpr ErrorRow kErrorMap[] = {
    {rpc::VXI11_NO_ERROR, VI_SUCCESS},
    {rpc::VXI11_SYNTAX_ERROR, VI_ERROR_IO},
    {rpc::VXI11_DEVICE_NOT_ACCESSIBLE, VI_ERROR_RSRC_NFOUND},
    {rpc::VXI11_INVALID_LINK, VI_ERROR_CONN_LOST},
    {rpc::VXI11_PARAMETER_ERROR, VI_ERROR_INV_PARAMETER},
    {rpc::VXI11_CHANNEL_NOT_ESTABLISHED, VI_ERROR_IO},
    {rpc::VXI11_OPERATION_NOT_SUPPORTED, VI_ERROR_NSUP_OPER},
    {rpc::VXI11_OUT_OF_RESOURCES, VI_ERROR_ALLOC},
    {rpc::VXI11_DEVICE_LOCKED, VI_ERROR_RSRC_LOCKED},
    {rpc::VXI11_NO_LOCK_HELD, VI_ERROR_SESN_NLOCKED},
    {rpc::VXI11_IO_TIMEOUT, VI_ERROR_TMO},
    {rpc::VXI11_IO_ERROR, VI_ERROR_IO},
    {rpc::VXI11_INVALID_ADDRESS, VI_ERROR_RSRC_NFOUND},
    {rpc::VXI11_ABORT, VI_ERROR_ABORT},
    {rpc::VXI11_CHANNEL_ALREADY_ESTABLISHED, VI_ERROR_IO},
};

ViUInt32 WithGrace(ViUInt32 timeoutMs) {
    if (timeoutMs >= VI_TMO_INFINITE - kSocketGraceMs)
        return VI_TMO_INFINITE;
    return timeoutMs + kSocketGraceMs;
}

// Reads one record-marked RPC message fragment by fragment, so that bulk data
// can land directly in the caller's memory; at most maxRecord bytes in all.
class RecordReader {
public:
    RecordReader(TcpConnection& connection, Deadline deadline, std::size_t maxRecord)
        : m_connection(connection), m_deadline(deadline), m_maxRecord(maxRecord) {}

    // Up to size bytes; fewer only when the record ends.
    ViStatus Read(std::uint8_t* data, std::size_t size, std::size_t& got) {
        got = 0;
        while (got < size) {
            if (m_fragmentLeft == 0) {
                if (m_last)
                    return VI_SUCCESS;
                if (const ViStatus s = NextFragment(); s != VI_SUCCESS)
                    return s;
                continue;
            }
            const std::size_t n = std::min<std::size_t>(size - got, m_fragmentLeft);
            if (const ViStatus s = m_connection.ReceiveExact(data + got, n, m_deadline);
                s != VI_SUCCESS)
                return s;
            m_started = true;
            got += n;
            m_fragmentLeft -= static_cast<std::uint32_t>(n);
        }
        return VI_SUCCESS;
    }

    ViStatus Skip(std::size_t size) {
        std::uint8_t scratch[4096];
        while (size > 0) {
            std::size_t got = 0;
            const std::size_t n = std::min(size, sizeof scratch);
            if (const ViStatus s = Read(scratch, n, got); s != VI_SUCCESS)
                return s;
            if (got < n)
                return VI_ERROR_IO; // record ended early
            size -= n;
        }
        return VI_SUCCESS;
    }

    // Reads and drops the rest of the record.
    ViStatus Drain() {
        std::uint8_t scratch[4096];
        for (;;) {
            std::size_t got = 0;
            if (const ViStatus s = Read(scratch, sizeof scratch, got); s != VI_SUCCESS)
                return s;
            if (got < sizeof scratch)
                return VI_SUCCESS;
        }
    }

    bool Started() const { return m_started; }

private:
    ViStatus NextFragment() {
        std::uint8_t header[4];
        if (const ViStatus s = m_connection.ReceiveExact(header, 4, m_deadline); s != VI_SUCCESS)
            return s;
        m_started = true;
        const rpc::FragmentHeader h = rpc::DecodeFragmentHeader(header);
        if (h.length > m_maxRecord - m_total)
            return VI_ERROR_IO; // a peer may not make us read without bound
        m_total += h.length;
        m_fragmentLeft = h.length;
        m_last = h.last;
        return VI_SUCCESS;
    }

    TcpConnection& m_connection;
    Deadline m_deadline;
    std::size_t m_maxRecord;
    std::size_t m_total = 0;
    std::uint32_t m_fragmentLeft = 0;
    bool m_last = false;
    bool m_started = false;
};

std::uint32_t NewXidBase() {
    static std::atomic<std::uint32_t> counter{0};
    return (static_cast<std::uint32_t>(getpid()) << 16) ^ (counter.fetch_add(1) << 24) ^
           0x5A5A0000u;
}

// One RPC program on one TCP connection.
class RpcClient {
public:
    RpcClient(std::unique_ptr<TcpConnection> connection, std::uint32_t program,
              std::uint32_t version)
        : m_connection(std::move(connection)), m_program(program), m_version(version),
          m_xid(NewXidBase()) {}

    // A call whose reply is small: results holds what follows the reply header.
    ViStatus Call(std::uint32_t procedure, const rpc::Bytes& args, Deadline deadline,
                  rpc::Bytes& results) {
        std::uint32_t xid = 0;
        if (const ViStatus s = Send(procedure, args, deadline, xid); s != VI_SUCCESS)
            return s;
        for (;;) {
            RecordReader reader(*m_connection, deadline, kMaxSmallReply);
            rpc::Bytes record(kMaxSmallReply);
            std::size_t got = 0;
            if (const ViStatus s = reader.Read(record.data(), record.size(), got); s != VI_SUCCESS)
                return Failed(s, reader);
            record.resize(got);
            if (const ViStatus s = reader.Drain(); s != VI_SUCCESS)
                return Failed(s, reader);
            rpc::XdrReader in(record);
            rpc::ReplyHeader header;
            if (!rpc::DecodeReplyHeader(in, header))
                return Broken(VI_ERROR_IO);
            if (header.xid != xid)
                continue; // the late reply of a call that timed out
            if (!rpc::ReplySucceeded(header))
                return VI_ERROR_IO;
            results.assign(record.end() - static_cast<std::ptrdiff_t>(in.Remaining()),
                           record.end());
            return VI_SUCCESS;
        }
    }

    // device_read: the data goes straight into data[0..capacity).
    ViStatus CallRead(const rpc::DeviceReadParms& parms, Deadline deadline, std::uint8_t* data,
                      std::size_t capacity, rpc::DeviceReadResp& resp, std::size_t& count) {
        count = 0;
        rpc::Bytes args;
        rpc::Encode(args, parms);
        std::uint32_t xid = 0;
        if (const ViStatus s = Send(rpc::VXI11_DEVICE_READ, args, deadline, xid); s != VI_SUCCESS)
            return s;
        for (;;) {
            RecordReader reader(*m_connection, deadline, rpc::kVxi11MaxData + kReplyHeadRoom);
            std::uint8_t prefix[kPrefixSize];
            std::size_t got = 0;
            if (const ViStatus s = reader.Read(prefix, sizeof prefix, got); s != VI_SUCCESS)
                return Failed(s, reader);
            rpc::XdrReader in(rpc::ByteView(prefix, got));
            rpc::ReplyHeader header;
            if (!rpc::DecodeReplyHeader(in, header))
                return Broken(VI_ERROR_IO);
            if (header.xid != xid) {
                if (const ViStatus s = reader.Drain(); s != VI_SUCCESS)
                    return Failed(s, reader);
                continue;
            }
            std::uint32_t length = 0;
            if (!rpc::ReplySucceeded(header) ||
                !rpc::DecodeDeviceReadRespHead(in, resp, length, capacity)) {
                // Also a reply with more data than was asked for.
                const ViStatus s = reader.Drain();
                return s == VI_SUCCESS ? VI_ERROR_IO : Failed(s, reader);
            }
            const std::size_t inPrefix = std::min<std::size_t>(in.Remaining(), length);
            std::memcpy(data, prefix + (got - in.Remaining()), inPrefix);
            std::size_t rest = 0;
            if (const ViStatus s = reader.Read(data + inPrefix, length - inPrefix, rest);
                s != VI_SUCCESS)
                return Failed(s, reader);
            if (inPrefix + rest < length)
                return Broken(VI_ERROR_IO); // record shorter than its data length
            count = length;
            const std::size_t padInPrefix = in.Remaining() - inPrefix;
            const std::size_t pad = rpc::XdrPadding(length);
            if (padInPrefix < pad)
                if (const ViStatus s = reader.Skip(pad - padInPrefix); s != VI_SUCCESS)
                    return Failed(s, reader);
            if (const ViStatus s = reader.Drain(); s != VI_SUCCESS)
                return Failed(s, reader);
            return VI_SUCCESS;
        }
    }

    bool IsBroken() const { return m_broken; }

private:
    ViStatus Send(std::uint32_t procedure, const rpc::Bytes& args, Deadline deadline,
                  std::uint32_t& xid) {
        if (m_broken)
            return VI_ERROR_CONN_LOST;
        xid = ++m_xid;
        rpc::Bytes head;
        rpc::EncodeCallHeader(head, {xid, rpc::kRpcVersion, m_program, m_version, procedure});
        const std::size_t size = head.size() + args.size();
        if (size > rpc::kMaxFragmentLength)
            return VI_ERROR_INV_PARAMETER;
        const auto mark = rpc::EncodeFragmentHeader(static_cast<std::uint32_t>(size), true);
        const std::span<const std::uint8_t> parts[] = {mark, head, args};
        const ViStatus s = m_connection->SendAll(parts, deadline);
        // A half-sent call leaves the stream unusable.
        return s == VI_SUCCESS ? s : Broken(s == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_CONN_LOST);
    }

    // A record read part-way cannot be resynchronised.
    ViStatus Failed(ViStatus s, const RecordReader& reader) {
        if (reader.Started() || s != VI_ERROR_TMO)
            m_broken = true;
        return s;
    }
    ViStatus Broken(ViStatus s) {
        m_broken = true;
        return s;
    }

    std::unique_ptr<TcpConnection> m_connection;
    std::uint32_t m_program;
    std::uint32_t m_version;
    std::uint32_t m_xid;
    bool m_broken = false;
};

ViStatus MapVxi11Error(std::int32_t error) {
    for (const ErrorRow& row : kErrorMap)
        if (row.vxi11 == error)
            return row.visa;
    return VI_ERROR_IO;
}

class Vxi11Transport final : public ITransport {
public:
    Vxi11Transport(std::unique_ptr<RpcClient> core, std::int32_t linkId, std::uint32_t maxRecvSize,
                   ViUInt32 timeoutMs)
        : m_core(std::move(core)), m_linkId(linkId), m_maxRecvSize(maxRecvSize),
          m_closeTimeoutMs(std::min<ViUInt32>(timeoutMs, 1000)) {}

    ~Vxi11Transport() override {
        if (m_core->IsBroken())
            return;
        rpc::Bytes args;
        rpc::Bytes results;
        rpc::Encode(args, rpc::DeviceLink{m_linkId});
        m_core->Call(rpc::VXI11_DESTROY_LINK, args, DeadlineAfter(m_closeTimeoutMs), results);
    }

    ViStatus Write(const std::uint8_t* data, std::size_t size, bool endOfMessage,
                   const SessionSettings& settings) override {
        const Deadline deadline = DeadlineAfter(WithGrace(settings.timeoutMs));
        std::size_t done = 0;
        do {
            const std::size_t chunk = std::min<std::size_t>(size - done, m_maxRecvSize);
            const bool last = done + chunk == size;
            rpc::DeviceWriteParms parms;
            parms.linkId = m_linkId;
            parms.ioTimeout = settings.timeoutMs;
            parms.lockTimeout = settings.timeoutMs;
            parms.flags = last && endOfMessage ? rpc::kVxi11FlagEnd : 0;
            parms.data = rpc::ByteView(data + done, chunk);
            rpc::Bytes args;
            rpc::Bytes results;
            rpc::Encode(args, parms);
            if (const ViStatus s = m_core->Call(rpc::VXI11_DEVICE_WRITE, args, deadline, results);
                s != VI_SUCCESS)
                return s;
            rpc::XdrReader in(results);
            rpc::DeviceWriteResp resp;
            if (!rpc::Decode(in, resp))
                return VI_ERROR_IO;
            if (resp.error != rpc::VXI11_NO_ERROR)
                return MapVxi11Error(resp.error);
            // A device that takes nothing, or claims more than was sent, is broken.
            if ((resp.size == 0 && chunk > 0) || resp.size > chunk)
                return VI_ERROR_IO;
            done += resp.size;
            if (chunk == 0)
                break;
        } while (done < size);
        return VI_SUCCESS;
    }

    ViStatus Read(std::uint8_t* data, std::size_t capacity, ReadMode /*mode*/,
                  const SessionSettings& settings, ReadResult& result) override {
        result = {};
        if (capacity == 0)
            return VI_SUCCESS;
        const Deadline deadline = DeadlineAfter(WithGrace(settings.timeoutMs));
        // The device's io_timeout bounds each call; a device that keeps
        // answering with nothing is cut off by the socket deadline.
        for (;;) {
            rpc::DeviceReadParms parms;
            parms.linkId = m_linkId;
            parms.requestSize =
                static_cast<std::uint32_t>(std::min<std::size_t>(capacity, kMaxReadRequest));
            parms.ioTimeout = settings.timeoutMs;
            parms.lockTimeout = settings.timeoutMs;
            if (settings.termCharEnabled) {
                parms.flags |= rpc::kVxi11FlagTermCharSet;
                parms.termChar = settings.termChar;
            }
            rpc::DeviceReadResp resp;
            std::size_t count = 0;
            if (const ViStatus s =
                    m_core->CallRead(parms, deadline, data, parms.requestSize, resp, count);
                s != VI_SUCCESS)
                return s;
            result.count = count;
            if ((resp.reason & rpc::kVxi11ReasonEnd) && !settings.suppressEnd)
                result.end = ReadEnd::End;
            else if ((resp.reason & rpc::kVxi11ReasonTermChar) && settings.termCharEnabled)
                result.end = ReadEnd::TermChar;
            if (resp.error != rpc::VXI11_NO_ERROR)
                return MapVxi11Error(resp.error);
            if (count > 0 || result.end == ReadEnd::End)
                return VI_SUCCESS;
            if (std::chrono::steady_clock::now() >= deadline)
                return VI_ERROR_TMO;
        }
    }

    bool SignalsEnd() const override { return true; }
    ViStatus Clear(const SessionSettings& settings) override {
        rpc::Bytes results;
        if (const ViStatus s = GenericCall(rpc::VXI11_DEVICE_CLEAR, settings, results);
            s != VI_SUCCESS)
            return s;
        rpc::XdrReader in(results);
        rpc::DeviceError resp;
        if (!rpc::Decode(in, resp))
            return VI_ERROR_IO;
        return MapVxi11Error(resp.error);
    }

    ViStatus ReadStatusByte(const SessionSettings& settings, ViUInt16& stb) override {
        rpc::Bytes results;
        if (const ViStatus s = GenericCall(rpc::VXI11_DEVICE_READSTB, settings, results);
            s != VI_SUCCESS)
            return s;
        rpc::XdrReader in(results);
        rpc::DeviceReadStbResp resp;
        if (!rpc::Decode(in, resp))
            return VI_ERROR_IO;
        stb = resp.stb;
        return MapVxi11Error(resp.error);
    }

    ViStatus Lock(const SessionSettings& settings, ViUInt32 timeoutMs) override {
        rpc::Bytes args;
        rpc::Encode(args, rpc::DeviceLockParms{m_linkId, rpc::kVxi11FlagWaitLock, timeoutMs});
        return ErrorOnlyCall(rpc::VXI11_DEVICE_LOCK, args,
                             DeadlineAfter(WithGrace(std::max(timeoutMs, settings.timeoutMs))));
    }

    ViStatus Unlock(const SessionSettings& settings) override {
        rpc::Bytes args;
        rpc::Encode(args, rpc::DeviceLink{m_linkId});
        return ErrorOnlyCall(rpc::VXI11_DEVICE_UNLOCK, args,
                             DeadlineAfter(WithGrace(settings.timeoutMs)));
    }

private:
    // A call with Device_GenericParms (device_clear, device_readstb).
    ViStatus GenericCall(std::uint32_t procedure, const SessionSettings& settings,
                         rpc::Bytes& results) {
        rpc::Bytes args;
        rpc::Encode(args,
                    rpc::DeviceGenericParms{m_linkId, 0, settings.timeoutMs, settings.timeoutMs});
        return m_core->Call(procedure, args, DeadlineAfter(WithGrace(settings.timeoutMs)), results);
    }
    // A call whose result is a Device_Error.
    ViStatus ErrorOnlyCall(std::uint32_t procedure, const rpc::Bytes& args, Deadline deadline) {
        rpc::Bytes results;
        if (const ViStatus s = m_core->Call(procedure, args, deadline, results); s != VI_SUCCESS)
            return s;
        rpc::XdrReader in(results);
        rpc::DeviceError resp;
        if (!rpc::Decode(in, resp))
            return VI_ERROR_IO;
        return MapVxi11Error(resp.error);
    }

    std::unique_ptr<RpcClient> m_core;
    std::int32_t m_linkId;
    std::uint32_t m_maxRecvSize;
    ViUInt32 m_closeTimeoutMs;
};

// Asks the portmapper for the TCP port of the core channel; 0 when none.
ViStatus FindCorePort(const std::string& host, ViUInt16 portmapperPort, Deadline deadline,
                      std::uint16_t& port) {
    std::unique_ptr<TcpConnection> connection;
    if (TcpConnection::Connect(host, portmapperPort, deadline, connection) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    RpcClient portmapper(std::move(connection), rpc::kPortmapProgram, rpc::kPortmapVersion);
    rpc::Bytes args;
    rpc::Bytes results;
    rpc::Encode(args, rpc::PortmapMapping{rpc::kVxi11CoreProgram, rpc::kVxi11CoreVersion,
                                          rpc::kIpProtoTcp, 0});
    if (portmapper.Call(rpc::kPortmapProcGetPort, args, deadline, results) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    rpc::XdrReader in(results);
    std::uint32_t found = 0;
    if (!rpc::DecodeGetPortResult(in, found) || found == 0)
        return VI_ERROR_RSRC_NFOUND;
    port = static_cast<std::uint16_t>(found);
    return VI_SUCCESS;
}

} // namespace

bool InterpretVxi11Fields(ResourceName& name) {
    if (name.fields.empty() || name.fields.size() > 2)
        return false;
    if (name.fields.size() == 1)
        name.fields.push_back("inst0");
    name.host = name.fields[0];
    name.device = name.fields[1];
    return name.device.size() <= rpc::kVxi11MaxDeviceName && !IsHislipDeviceName(name.device);
}

ViStatus OpenVxi11Transport(const ResourceName& name, const SessionSettings& settings,
                            std::unique_ptr<ITransport>& transport) {
    // Finding and linking to the device must all happen within the timeout.
    const Deadline deadline = DeadlineAfter(settings.timeoutMs);
    std::uint16_t corePort = 0;
    if (const ViStatus s = FindCorePort(name.host, settings.portmapperPort, deadline, corePort);
        s != VI_SUCCESS)
        return s;
    std::unique_ptr<TcpConnection> connection;
    if (TcpConnection::Connect(name.host, corePort, deadline, connection) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    auto core = std::make_unique<RpcClient>(std::move(connection), rpc::kVxi11CoreProgram,
                                            rpc::kVxi11CoreVersion);
    rpc::Bytes args;
    rpc::Bytes results;
    rpc::Encode(args, rpc::CreateLinkParms{static_cast<std::int32_t>(getpid() & 0x7FFFFFFF), false,
                                           settings.timeoutMs, name.device});
    if (core->Call(rpc::VXI11_CREATE_LINK, args, deadline, results) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    rpc::XdrReader in(results);
    rpc::CreateLinkResp resp;
    if (!rpc::Decode(in, resp))
        return VI_ERROR_RSRC_NFOUND;
    if (resp.error != rpc::VXI11_NO_ERROR) {
        const ViStatus s = MapVxi11Error(resp.error);
        return s == VI_ERROR_IO ? VI_ERROR_RSRC_NFOUND : s;
    }
    // A device that admits no data at all gets single bytes rather than a hang.
    const std::uint32_t maxRecvSize = std::max<std::uint32_t>(resp.maxRecvSize, 1);
    transport = std::make_unique<Vxi11Transport>(std::move(core), resp.linkId, maxRecvSize,
                                                 settings.timeoutMs);
    return VI_SUCCESS;
}

} // namespace quarvel::visa
