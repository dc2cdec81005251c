#include "instr/retrieval_block.h"

#include "codec/ieee488_block.h"
#include "instr/retrieval_io.h"
#include "visa/visa_internal.h"

#include <algorithm>

namespace quarvel::wavedata {
namespace {

// A reply header before the block is short ("C1:WF DAT2,"); anything
// longer is no block reply.
constexpr std::size_t kMaxPrefix = 64;
// Time allowed for the end of a reply after its block: a firmware that
// sends nothing after the block (on a raw socket) costs this much once.
constexpr ViUInt32 kTailTimeoutMs = 300;

// Restores the session's timeout on every path.
class TimeoutScope {
public:
    TimeoutScope(ViSession session, ViUInt32 timeoutMs) : m_session(session) {
        m_ok = viGetAttribute(session, VI_ATTR_TMO_VALUE, &m_saved) == VI_SUCCESS &&
               viSetAttribute(session, VI_ATTR_TMO_VALUE, timeoutMs) == VI_SUCCESS;
    }
    ~TimeoutScope() {
        if (m_ok)
            viSetAttribute(m_session, VI_ATTR_TMO_VALUE, m_saved);
    }
    TimeoutScope(const TimeoutScope&) = delete;
    TimeoutScope& operator=(const TimeoutScope&) = delete;
    bool Ok() const { return m_ok; }

private:
    ViSession m_session;
    ViUInt32 m_saved = 0;
    bool m_ok = false;
};

// "#", one digit d, d length digits, read byte by byte so nothing after
// the header is consumed; checked by the project's block-header parser.
bool ReadHeader(ViSession session, const BlockQuery& query, std::uint64_t& length,
                std::string& why) {
    std::uint8_t byte = 0;
    std::size_t skipped = 0;
    for (;;) {
        if (!ReadExactly(session, &byte, 1)) {
            why = "no reply to the data query";
            return false;
        }
        if (byte == '#')
            break;
        if (++skipped > kMaxPrefix) {
            why = "the reply holds no data block";
            return false;
        }
    }
    std::string header = "#";
    if (!ReadExactly(session, &byte, 1)) {
        why = "the data block header ended early";
        return false;
    }
    header += static_cast<char>(byte);
    const std::size_t digits = byte >= '1' && byte <= '9' ? byte - '0' : 0;
    if (digits == 0) {
        why = "the data block has no length";
        return false;
    }
    header.resize(2 + digits);
    if (!ReadExactly(session, reinterpret_cast<std::uint8_t*>(header.data()) + 2, digits)) {
        why = "the data block header ended early";
        return false;
    }
    quarvel::visa::BlockHeader parsed;
    if (quarvel::visa::ParseBlockHeader(header, parsed) != quarvel::visa::BlockHeaderResult::Ok ||
        parsed.indefinite || parsed.headerSize != header.size()) {
        why = "the data block header '" + header + "' does not parse";
        return false;
    }
    length = parsed.dataLength;
    if (query.samples > 0 && query.sampleBytes > 1 && length == query.samples)
        length *= query.sampleBytes;
    if (length > query.maxBytes) {
        why = "the data block announces " + std::to_string(length) + " bytes, more than the " +
              std::to_string(query.maxBytes) + " expected";
        return false;
    }
    return true;
}

// How a counted read ended.
struct CountedRead {
    std::size_t total = 0;        // bytes that came
    ViStatus status = VI_SUCCESS; // of the read that stopped it
    // The last read ended the message (END on USB, HiSLIP, VXI-11). A line
    // feed inside the data ends a read on a raw socket, which is no end of
    // the message.
    bool ended = false;

    bool Complete(std::size_t count) const { return total == count; }
    // The progress handler asked to stop: the VISA layer has dropped the
    // rest of the reply already (a new connection, a device clear or a bulk-IN
    // abort), so there is nothing left to read.
    bool Cancelled() const { return status == VI_ERROR_ABORT; }
};

// Reads up to `count` bytes, stopping at the first failed read; `onReceived`
// sees the bytes received so far after each read.
CountedRead ReadCounted(ViSession session, std::uint8_t* data, std::size_t count,
                        const std::function<void(std::span<const std::uint8_t>)>& onReceived = {}) {
    CountedRead read;
    while (read.total < count) {
        const std::size_t wanted = std::min<std::size_t>(count - read.total, 1u << 20);
        ViUInt32 received = 0;
        read.status = viRead(session, data + read.total, static_cast<ViUInt32>(wanted), &received);
        read.total += received;
        if ((read.status != VI_SUCCESS && read.status != VI_SUCCESS_MAX_CNT &&
             read.status != VI_SUCCESS_TERM_CHAR) ||
            received == 0)
            return read;
        if (onReceived)
            onReceived({data, read.total});
        // A read that stops at a line feed may report plain success on a
        // raw socket too: only a read that ends otherwise is taken as END.
        read.ended = read.status == VI_SUCCESS && data[read.total - 1] != '\n';
    }
    return read;
}

// What follows the block up to the end of its reply: a line feed, NULs and a
// line feed, stray bytes, or nothing (then only a raw socket has to wait,
// briefly, to know). Read byte by byte, so a line feed that ended the last
// data read is never taken for the reply's end.
void ReadReplyEnd(ViSession session) {
    ViUInt32 saved = 0;
    viGetAttribute(session, VI_ATTR_TMO_VALUE, &saved);
    viSetAttribute(session, VI_ATTR_TMO_VALUE, kTailTimeoutMs);
    for (std::size_t n = 0; n < kMaxPrefix; ++n) {
        std::uint8_t byte = 0;
        ViUInt32 received = 0;
        const ViStatus status = viRead(session, &byte, 1, &received);
        if (status != VI_SUCCESS_MAX_CNT || received == 0)
            break; // END, the line feed, a time-out or an error
    }
    viSetAttribute(session, VI_ATTR_TMO_VALUE, saved);
}

enum class DataRead { Whole, Failed, Cancelled };

DataRead ReadData(ViSession session, const BlockQuery& query, std::uint64_t length,
                  std::vector<std::uint8_t>& data, std::string& why) {
    // The point count is known before the data comes: progress shows it.
    qviExpectReplyData(session, length);
    data.resize(static_cast<std::size_t>(length));
    const CountedRead read = ReadCounted(session, data.data(), data.size(), query.received);
    if (!read.Complete(data.size())) {
        // Nothing of a block that did not come whole is handed on.
        data.clear();
        if (read.Cancelled()) {
            why = "cancelled after " + std::to_string(read.total) + " of its " +
                  std::to_string(length) + " bytes";
            return DataRead::Cancelled;
        }
        why = "the data block ended before its " + std::to_string(length) + " bytes";
        return DataRead::Failed;
    }
    if (query.tailBytes > 0) {
        std::vector<std::uint8_t> tail(query.tailBytes);
        ReadCounted(session, tail.data(), tail.size());
    } else if (!read.ended) {
        ReadReplyEnd(session);
    }
    return DataRead::Whole;
}

} // namespace

bool QueryDataBlock(ViSession session, const BlockQuery& query, std::vector<std::uint8_t>& data,
                    std::string& why) {
    data.clear();
    if (!SendText(session, query.command)) {
        why = "the data query could not be sent";
        return false;
    }
    return ReadDataBlock(session, query, data, why);
}

bool ReadDataBlock(ViSession session, const BlockQuery& query, std::vector<std::uint8_t>& data,
                   std::string& why) {
    data.clear();
    DataRead result = DataRead::Failed;
    {
        TimeoutScope timeout(session, query.timeoutMs);
        if (!timeout.Ok()) {
            why = "the transfer time-out could not be set";
            return false;
        }
        std::uint64_t length = 0;
        if (ReadHeader(session, query, length, why))
            result = ReadData(session, query, length, data, why);
    }
    if (result == DataRead::Failed) {
        // What is left of the reply, so the next one starts clean. After a
        // cancel the VISA layer has dropped it already, and the caller's
        // handler would go on cancelling this read too.
        TimeoutScope shortWait(session, kTailTimeoutMs);
        viFlush(session, VI_READ_BUF);
    }
    return result == DataRead::Whole;
}

} // namespace quarvel::wavedata
