#include "visa/rpc_client.h"

#include "visa/progress.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unistd.h>

namespace quarvel::visa {

namespace {

// Room for the reply and read headers in front of device_read data.
constexpr std::size_t kReplyHeadRoom = 1024;
// The first bytes of a device_read reply, read to find where its data starts;
// they hold any reply header (an authentication body is at most 400 bytes).
constexpr std::size_t kPrefixSize = 512;

} // namespace

std::uint32_t NewXidBase() {
    static std::atomic<std::uint32_t> counter{0};
    return (static_cast<std::uint32_t>(getpid()) << 16) ^ (counter.fetch_add(1) << 24) ^
           0x5A5A0000u;
}

// Reads one record-marked RPC message fragment by fragment, so that bulk data
// can land directly in the caller's memory; at most maxRecord bytes in all.
class RpcClient::RecordReader {
public:
    RecordReader(IByteStream& stream, Deadline deadline, std::size_t maxRecord,
                 ProgressMeter* progress)
        : m_stream(stream), m_deadline(deadline), m_maxRecord(maxRecord), m_progress(progress) {}

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
            if (const ViStatus s = m_stream.ReceiveExact(data + got, n, m_deadline, m_progress);
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
    // The whole record has been read.
    bool AtEnd() const { return m_last && m_fragmentLeft == 0; }

private:
    ViStatus NextFragment() {
        std::uint8_t header[4];
        if (const ViStatus s = m_stream.ReceiveExact(header, 4, m_deadline, m_progress);
            s != VI_SUCCESS)
            return s;
        if (m_progress != nullptr)
            m_progress->ReceivedFraming(sizeof header);
        m_started = true;
        const rpc::FragmentHeader h = rpc::DecodeFragmentHeader(header);
        if (h.length > m_maxRecord - m_total)
            return VI_ERROR_IO; // a peer may not make us read without bound
        m_total += h.length;
        m_fragmentLeft = h.length;
        m_last = h.last;
        return VI_SUCCESS;
    }

    IByteStream& m_stream;
    Deadline m_deadline;
    std::size_t m_maxRecord;
    ProgressMeter* m_progress;
    std::size_t m_total = 0;
    std::uint32_t m_fragmentLeft = 0;
    bool m_last = false;
    bool m_started = false;
};

RpcClient::RpcClient(std::unique_ptr<IByteStream> stream, std::uint32_t program,
                     std::uint32_t version, std::uint32_t firstXid)
    : m_stream(std::move(stream)), m_program(program), m_version(version), m_xid(firstXid) {}

ViStatus RpcClient::Call(std::uint32_t procedure, const rpc::Bytes& args, Deadline deadline,
                         rpc::Bytes& results, ProgressMeter* progress) {
    std::uint32_t xid = 0;
    if (const ViStatus s = Send(procedure, args, deadline, xid, progress); s != VI_SUCCESS)
        return s;
    rpc::Bytes record(kMaxSmallReply);
    for (;;) {
        // A late reply of an earlier call may be a long device_read reply:
        // it is read past (bounded by the longest reply there can be), and
        // only our own reply must be small.
        RecordReader reader(*m_stream, deadline, rpc::kVxi11MaxData + kReplyHeadRoom, progress);
        std::size_t got = 0;
        if (const ViStatus s = reader.Read(record.data(), record.size(), got); s != VI_SUCCESS)
            return Failed(s, reader);
        const bool tooLong = !reader.AtEnd();
        if (const ViStatus s = reader.Drain(); s != VI_SUCCESS)
            return Failed(s, reader);
        rpc::XdrReader in(rpc::ByteView(record.data(), got));
        rpc::ReplyHeader header;
        if (!rpc::DecodeReplyHeader(in, header))
            return Broken(VI_ERROR_IO);
        if (header.xid != xid)
            continue; // the late reply of a call that timed out
        if (tooLong || !rpc::ReplySucceeded(header))
            return VI_ERROR_IO;
        const auto end = record.begin() + static_cast<std::ptrdiff_t>(got);
        results.assign(end - static_cast<std::ptrdiff_t>(in.Remaining()), end);
        return VI_SUCCESS;
    }
}

ViStatus RpcClient::CallRead(const rpc::DeviceReadParms& parms, Deadline deadline,
                             std::uint8_t* data, std::size_t capacity, rpc::DeviceReadResp& resp,
                             std::size_t& count, ProgressMeter* progress,
                             std::span<std::uint8_t> spill) {
    count = 0;
    rpc::Bytes args;
    rpc::Encode(args, parms);
    std::uint32_t xid = 0;
    if (const ViStatus s = Send(rpc::VXI11_DEVICE_READ, args, deadline, xid, progress);
        s != VI_SUCCESS)
        return s;
    for (;;) {
        RecordReader reader(*m_stream, deadline, rpc::kVxi11MaxData + kReplyHeadRoom, progress);
        std::uint8_t prefix[kPrefixSize];
        std::size_t got = 0;
        if (const ViStatus s = reader.Read(prefix, sizeof prefix, got); s != VI_SUCCESS)
            return Failed(s, reader);
        rpc::XdrReader in(rpc::ByteView(prefix, got));
        rpc::ReplyHeader header;
        if (!rpc::DecodeReplyHeader(in, header))
            return Broken(VI_ERROR_IO);
        if (header.xid != xid) {
            // The late reply of an earlier call: dropped, ours follows.
            if (const ViStatus s = reader.Drain(); s != VI_SUCCESS)
                return Failed(s, reader);
            continue;
        }
        std::uint32_t length = 0;
        if (!rpc::ReplySucceeded(header) ||
            !rpc::DecodeDeviceReadRespHead(in, resp, length, capacity + spill.size())) {
            // Also a reply with more data than was asked for.
            const ViStatus s = reader.Drain();
            return s == VI_SUCCESS ? VI_ERROR_IO : Failed(s, reader);
        }
        if (progress != nullptr)
            progress->ReceivedFraming(got - in.Remaining());
        // The data in order, from the prefix and then from the record; a
        // data position below capacity is in data, from there on in spill.
        const std::size_t inPrefix = std::min<std::size_t>(in.Remaining(), length);
        const std::uint8_t* from = prefix + (got - in.Remaining());
        const auto target = [&](std::size_t at) {
            return at < capacity ? data + at : spill.data() + (at - capacity);
        };
        const auto upTo = [&](std::size_t at, std::size_t end) {
            return std::min<std::size_t>(at < capacity ? capacity : end, end) - at;
        };
        for (std::size_t at = 0; at < inPrefix;) {
            const std::size_t n = upTo(at, inPrefix);
            std::memcpy(target(at), from + at, n);
            at += n;
        }
        for (std::size_t at = inPrefix; at < length;) {
            const std::size_t n = upTo(at, length);
            std::size_t rest = 0;
            if (const ViStatus s = reader.Read(target(at), n, rest); s != VI_SUCCESS)
                return Failed(s, reader);
            if (rest < n)
                return Broken(VI_ERROR_IO); // record shorter than its data length
            at += n;
        }
        count = length;
        const std::size_t padInPrefix = in.Remaining() - inPrefix;
        const std::size_t pad = rpc::XdrPadding(length);
        if (progress != nullptr)
            progress->ReceivedFraming(pad);
        if (padInPrefix < pad)
            if (const ViStatus s = reader.Skip(pad - padInPrefix); s != VI_SUCCESS)
                return Failed(s, reader);
        if (const ViStatus s = reader.Drain(); s != VI_SUCCESS)
            return Failed(s, reader);
        return VI_SUCCESS;
    }
}

ViStatus RpcClient::Send(std::uint32_t procedure, const rpc::Bytes& args, Deadline deadline,
                         std::uint32_t& xid, ProgressMeter* progress) {
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
    const ViStatus s = m_stream->SendAll(parts, deadline, progress);
    // A half-sent call leaves the stream unusable.
    if (s == VI_SUCCESS || s == VI_ERROR_ABORT)
        return s == VI_SUCCESS ? s : Broken(s);
    return Broken(s == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_CONN_LOST);
}

// A record read part-way cannot be resynchronised.
ViStatus RpcClient::Failed(ViStatus s, const RecordReader& reader) {
    if (reader.Started() || s != VI_ERROR_TMO)
        m_broken = true;
    return s;
}

} // namespace quarvel::visa
