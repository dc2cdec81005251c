// VXI-11 transport ("TCPIP::host[::device][::INSTR]"): the core channel over
// ONC RPC on TCP, found through the portmapper. Written here rather than
// taken from a library, so that replies arriving in any number of TCP pieces,
// the server's maxRecvSize and the session timeout are all honoured.

#include "codec/oncrpc.h"
#include "visa/builtin_transports.h"
#include "visa/progress.h"
#include "visa/rpc_client.h"
#include "visa/tcp_connection.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <span>
#include <unistd.h>
#include <vector>

namespace quarvel::visa {

namespace {

namespace rpc = quarvel::visa::rpc;

// The socket waits this much longer than the io_timeout given to the device,
// so that the device's own timeout reply (error 15) arrives first.
constexpr ViUInt32 kSocketGraceMs = 1000;
// Reads smaller than this are served from a read-ahead of this size.
constexpr std::size_t kStageSize = 256 * 1024;
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

ViStatus MapVxi11Error(std::int32_t error) {
    for (const ErrorRow& row : kErrorMap)
        if (row.vxi11 == error)
            return row.visa;
    return VI_ERROR_IO;
}

// A link to the device on a new core channel connection.
struct CoreLink {
    std::unique_ptr<RpcClient> core;
    std::int32_t linkId = 0;
    std::uint32_t maxRecvSize = 1;
};

ViStatus CreateCoreLink(const std::string& host, std::uint16_t corePort, const std::string& device,
                        ViUInt32 timeoutMs, Deadline deadline, CoreLink& link) {
    std::unique_ptr<TcpConnection> connection;
    if (TcpConnection::Connect(host, corePort, deadline, connection) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    auto core = std::make_unique<RpcClient>(std::move(connection), rpc::kVxi11CoreProgram,
                                            rpc::kVxi11CoreVersion);
    rpc::Bytes args;
    rpc::Bytes results;
    rpc::Encode(args, rpc::CreateLinkParms{static_cast<std::int32_t>(getpid() & 0x7FFFFFFF), false,
                                           timeoutMs, device});
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
    link.core = std::move(core);
    link.linkId = resp.linkId;
    // A device that admits no data at all gets single bytes rather than a hang.
    link.maxRecvSize = std::max<std::uint32_t>(resp.maxRecvSize, 1);
    return VI_SUCCESS;
}

class Vxi11Transport final : public ITransport {
public:
    Vxi11Transport(CoreLink link, std::string host, std::uint16_t corePort, std::string device,
                   ViUInt32 timeoutMs)
        : m_link(std::move(link)), m_host(std::move(host)), m_corePort(corePort),
          m_device(std::move(device)), m_closeTimeoutMs(std::min<ViUInt32>(timeoutMs, 1000)) {}

    ~Vxi11Transport() override {
        if (!m_link.core || m_link.core->IsBroken())
            return;
        rpc::Bytes args;
        rpc::Bytes results;
        rpc::Encode(args, rpc::DeviceLink{m_link.linkId});
        m_link.core->Call(rpc::VXI11_DESTROY_LINK, args, DeadlineAfter(m_closeTimeoutMs), results);
    }

    ViStatus Write(const std::uint8_t* data, std::size_t size, bool endOfMessage,
                   const SessionSettings& settings) override {
        if (const ViStatus s = Relink(settings); s != VI_SUCCESS)
            return s;
        const Deadline deadline = DeadlineAfter(WithGrace(settings.timeoutMs));
        std::size_t done = 0;
        do {
            const std::size_t chunk = std::min<std::size_t>(size - done, m_link.maxRecvSize);
            const bool last = done + chunk == size;
            rpc::DeviceWriteParms parms;
            parms.linkId = m_link.linkId;
            parms.ioTimeout = settings.timeoutMs;
            parms.lockTimeout = settings.timeoutMs;
            parms.flags = last && endOfMessage ? rpc::kVxi11FlagEnd : 0;
            parms.data = rpc::ByteView(data + done, chunk);
            rpc::Bytes args;
            rpc::Bytes results;
            rpc::Encode(args, parms);
            if (const ViStatus s = m_link.core->Call(rpc::VXI11_DEVICE_WRITE, args, deadline,
                                                     results, settings.progress);
                s != VI_SUCCESS)
                return Dropped(s, settings);
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

    ViStatus Read(std::uint8_t* data, std::size_t capacity, ReadMode mode,
                  const SessionSettings& settings, ReadResult& result) override {
        result = {};
        if (capacity == 0)
            return VI_SUCCESS;
        const bool findTermChar = settings.termCharEnabled && mode == ReadMode::Message;
        if (m_stageBegin == m_stageEnd) {
            // Large reads go straight into the caller's memory, and a stage
            // more is asked for behind them: the end of a block's message
            // (its line feed) then comes with the block, not a round trip
            // later.
            if (capacity >= kStageSize)
                return ReadAndStage(data, capacity, findTermChar, settings, result);
            // Small reads take a larger piece of the message into the stage:
            // a program reading in small chunks (PyVISA reads 20 KB at a
            // time) then costs one round trip per stage, not per chunk. The
            // termination character is looked for here rather than by the
            // device, which would cost a round trip for every line feed
            // inside binary data. A stage never reaches past END, so nothing
            // of the next reply is taken early.
            m_stage.resize(kStageSize);
            ReadResult filled;
            const ViStatus s = ReadFromDevice(m_stage.data(), m_stage.size(), settings, filled);
            m_stageBegin = 0;
            m_stageEnd = filled.count;
            m_stageEndsMessage = filled.end == ReadEnd::End;
            if (s != VI_SUCCESS) {
                m_stageEnd = 0;
                return s;
            }
        }
        std::size_t n = std::min(capacity, m_stageEnd - m_stageBegin);
        const std::uint8_t* from = m_stage.data() + m_stageBegin;
        if (findTermChar) {
            if (const void* t = std::memchr(from, settings.termChar, n)) {
                n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(t) - from) + 1;
                result.end = ReadEnd::TermChar;
            }
        }
        std::memcpy(data, from, n);
        m_stageBegin += n;
        result.count = n;
        if (m_stageBegin == m_stageEnd && m_stageEndsMessage)
            result.end = ReadEnd::End;
        return VI_SUCCESS;
    }

    bool SignalsEnd() const override { return true; }
    std::size_t Buffered() const override { return m_stageEnd - m_stageBegin; }
    ViStatus Clear(const SessionSettings& settings) override {
        if (const ViStatus s = Relink(settings); s != VI_SUCCESS)
            return s;
        m_stageBegin = m_stageEnd = 0;
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
        if (const ViStatus s = Relink(settings); s != VI_SUCCESS)
            return s;
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
        if (const ViStatus s = Relink(settings); s != VI_SUCCESS)
            return s;
        rpc::Bytes args;
        rpc::Encode(args, rpc::DeviceLockParms{m_link.linkId, rpc::kVxi11FlagWaitLock, timeoutMs});
        return ErrorOnlyCall(rpc::VXI11_DEVICE_LOCK, args,
                             DeadlineAfter(WithGrace(std::max(timeoutMs, settings.timeoutMs))));
    }

    ViStatus Unlock(const SessionSettings& settings) override {
        if (const ViStatus s = Relink(settings); s != VI_SUCCESS)
            return s;
        rpc::Bytes args;
        rpc::Encode(args, rpc::DeviceLink{m_link.linkId});
        return ErrorOnlyCall(rpc::VXI11_DEVICE_UNLOCK, args,
                             DeadlineAfter(WithGrace(settings.timeoutMs)));
    }

private:
    // A read straight into data, with what comes past capacity staged. With
    // findTermChar it ends at the termination character like a staged read,
    // and what came after the character is staged ahead of the rest.
    ViStatus ReadAndStage(std::uint8_t* data, std::size_t capacity, bool findTermChar,
                          const SessionSettings& settings, ReadResult& result) {
        m_stage.resize(kStageSize);
        const ViStatus s = ReadFromDevice(data, capacity, settings, result, m_stage);
        std::size_t kept = std::min(result.count, capacity);
        std::size_t staged = result.count - kept;
        const void* term = findTermChar ? std::memchr(data, settings.termChar, kept) : nullptr;
        if (term != nullptr) {
            const std::size_t upTo =
                static_cast<std::size_t>(static_cast<const std::uint8_t*>(term) - data) + 1;
            m_stage.insert(m_stage.begin(), data + upTo, data + kept);
            staged += kept - upTo;
            kept = upTo;
        }
        if (staged > 0) {
            m_stageBegin = 0;
            m_stageEnd = staged;
            m_stageEndsMessage = result.end == ReadEnd::End;
            result.count = kept;
            result.end = ReadEnd::None;
        }
        if (term != nullptr && result.end != ReadEnd::End)
            result.end = ReadEnd::TermChar;
        return s;
    }

    // One device_read (repeated while the device answers with nothing): up
    // to capacity bytes into data, and up to spill.size() more into spill.
    ViStatus ReadFromDevice(std::uint8_t* data, std::size_t capacity,
                            const SessionSettings& settings, ReadResult& result,
                            std::span<std::uint8_t> spill = {}) {
        if (const ViStatus s = Relink(settings); s != VI_SUCCESS)
            return s;
        const Deadline deadline = DeadlineAfter(WithGrace(settings.timeoutMs));
        // The device's io_timeout bounds each call; a device that keeps
        // answering with nothing is cut off by the socket deadline.
        for (;;) {
            rpc::DeviceReadParms parms;
            parms.linkId = m_link.linkId;
            const std::size_t toData = std::min<std::size_t>(capacity, kMaxReadRequest);
            const std::size_t toSpill = std::min(spill.size(), kMaxReadRequest - toData);
            parms.requestSize = static_cast<std::uint32_t>(toData + toSpill);
            parms.ioTimeout = settings.timeoutMs;
            parms.lockTimeout = settings.timeoutMs;
            rpc::DeviceReadResp resp;
            std::size_t count = 0;
            if (const ViStatus s = m_link.core->CallRead(parms, deadline, data, toData, resp, count,
                                                         settings.progress, spill.first(toSpill));
                s != VI_SUCCESS)
                return Dropped(s, settings);
            result.count = count;
            if ((resp.reason & rpc::kVxi11ReasonEnd) && !settings.suppressEnd)
                result.end = ReadEnd::End;
            if (resp.error != rpc::VXI11_NO_ERROR)
                return MapVxi11Error(resp.error);
            if (count > 0 || result.end == ReadEnd::End)
                return VI_SUCCESS;
            if (std::chrono::steady_clock::now() >= deadline)
                return VI_ERROR_TMO;
        }
    }

    // A call with Device_GenericParms (device_clear, device_readstb).
    ViStatus GenericCall(std::uint32_t procedure, const SessionSettings& settings,
                         rpc::Bytes& results) {
        rpc::Bytes args;
        rpc::Encode(args, rpc::DeviceGenericParms{m_link.linkId, 0, settings.timeoutMs,
                                                  settings.timeoutMs});
        return m_link.core->Call(procedure, args, DeadlineAfter(WithGrace(settings.timeoutMs)),
                                 results);
    }
    // A call whose result is a Device_Error.
    ViStatus ErrorOnlyCall(std::uint32_t procedure, const rpc::Bytes& args, Deadline deadline) {
        rpc::Bytes results;
        if (const ViStatus s = m_link.core->Call(procedure, args, deadline, results);
            s != VI_SUCCESS)
            return s;
        rpc::XdrReader in(results);
        rpc::DeviceError resp;
        if (!rpc::Decode(in, resp))
            return VI_ERROR_IO;
        return MapVxi11Error(resp.error);
    }

    // A cancel can come in the middle of an RPC record, after which the
    // stream cannot be resynchronised, and the device may go on sending a
    // large reply at its own pace: the connection is closed (the device
    // destroys the link with it) and the next call links anew.
    ViStatus Dropped(ViStatus s, const SessionSettings& settings) {
        if (s == VI_ERROR_ABORT && settings.progress != nullptr && settings.progress->Cancelled()) {
            m_link.core.reset();
            m_stageBegin = m_stageEnd = 0;
        }
        return s;
    }

    // The new link starts with a device clear: the device's output queue may
    // still hold the rest of the cancelled reply.
    ViStatus Relink(const SessionSettings& settings) {
        if (m_link.core)
            return VI_SUCCESS;
        CoreLink link;
        if (CreateCoreLink(m_host, m_corePort, m_device, settings.timeoutMs,
                           DeadlineAfter(settings.timeoutMs), link) != VI_SUCCESS)
            return VI_ERROR_CONN_LOST;
        m_link = std::move(link);
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

    CoreLink m_link;
    std::string m_host;
    std::uint16_t m_corePort;
    std::string m_device;
    ViUInt32 m_closeTimeoutMs;
    // Read-ahead for reads that end at the termination character.
    std::vector<std::uint8_t> m_stage;
    std::size_t m_stageBegin = 0;
    std::size_t m_stageEnd = 0;
    bool m_stageEndsMessage = false;
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

ViStatus OpenVxi11Transport(const ResourceName& name, const SessionSettings& settings,
                            std::unique_ptr<ITransport>& transport) {
    // Finding and linking to the device must all happen within the timeout.
    const Deadline deadline = DeadlineAfter(settings.timeoutMs);
    std::uint16_t corePort = 0;
    if (const ViStatus s = FindCorePort(name.host, settings.portmapperPort, deadline, corePort);
        s != VI_SUCCESS)
        return s;
    CoreLink link;
    if (const ViStatus s =
            CreateCoreLink(name.host, corePort, name.device, settings.timeoutMs, deadline, link);
        s != VI_SUCCESS)
        return s;
    transport = std::make_unique<Vxi11Transport>(std::move(link), name.host, corePort, name.device,
                                                 settings.timeoutMs);
    return VI_SUCCESS;
}

} // namespace quarvel::visa
