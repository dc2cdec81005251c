// The trace data operations of the R&S FSV driver: each trace is read as
// two little-endian float32 blocks, the levels and the frequencies.

#include "codec/ieee488_block.h"
#include "instr/instr_rs_fsv.h"
#include "instr/retrieval_io.h"
#include "visa/visa_internal.h"
#include "wavedata/waveform_preamble.h"

#include <bit>
#include <string_view>
#include <vector>

using namespace quarvel::wavedata;

namespace {

constexpr std::size_t REPLY_LIMIT = 256;

// Raw reads of trace blocks: a full count (VI_SUCCESS_MAX_CNT) is success.
bool RawRead(ViSession session, std::uint8_t* data, std::size_t count) {
    return ReadExactly(session, data, count);
}

enum class BlockStart {
    Values,  // header valid: `values` is the value count
    Invalid, // no header, or a length that is no whole number of values
    TooLong, // more values than any real trace holds
    Failed,  // the read itself failed
};

// "#", one digit d, d length digits, read byte by byte from the session so
// nothing after the header is consumed; the digits are checked by the
// project's block-header parser.
BlockStart ReadBlockStart(ViSession session, std::size_t& values) {
    std::uint8_t head[2] = {};
    if (!RawRead(session, head, 2)) {
        return BlockStart::Failed;
    }
    if (head[1] < '0' || head[1] > '9') {
        return BlockStart::Invalid;
    }
    const std::size_t digitCount = static_cast<std::size_t>(head[1] - '0');
    std::string header(reinterpret_cast<const char*>(head), 2);
    if (digitCount > 0) {
        header.resize(2 + digitCount);
        if (!RawRead(session, reinterpret_cast<std::uint8_t*>(header.data()) + 2, digitCount)) {
            return BlockStart::Failed;
        }
    }
    quarvel::visa::BlockHeader parsed;
    if (quarvel::visa::ParseBlockHeader(header, parsed) != quarvel::visa::BlockHeaderResult::Ok ||
        parsed.indefinite || parsed.headerSize != header.size()) {
        return BlockStart::Invalid;
    }
    if (parsed.dataLength / 4 > MAX_WAVEFORM_POINTS) {
        return BlockStart::TooLong;
    }
    if (parsed.dataLength % 4 != 0) {
        // No whole number of values, but a length that can be trusted: the
        // data is read past, so the next reply is not taken from it.
        std::vector<std::uint8_t> skipped(static_cast<std::size_t>(parsed.dataLength));
        if (RawRead(session, skipped.data(), skipped.size())) {
            viFlush(session, VI_READ_BUF);
        }
        return BlockStart::Invalid;
    }
    values = static_cast<std::size_t>(parsed.dataLength / 4);
    // The point count is known before the data comes: progress shows it.
    qviExpectReplyData(session, parsed.dataLength);
    return BlockStart::Values;
}

// One block of float32 values after its header; the reply's line end is
// read too, so the next reply starts clean.
bool ReadValues(ViSession session, std::size_t count, std::vector<float>& values) {
    std::vector<std::uint8_t> bytes(count * 4);
    if (!RawRead(session, bytes.data(), bytes.size())) {
        return false;
    }
    values.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t bits = static_cast<std::uint32_t>(bytes[4 * i]) |
                                   static_cast<std::uint32_t>(bytes[4 * i + 1]) << 8 |
                                   static_cast<std::uint32_t>(bytes[4 * i + 2]) << 16 |
                                   static_cast<std::uint32_t>(bytes[4 * i + 3]) << 24;
        values[i] = std::bit_cast<float>(bits);
    }
    viFlush(session, VI_READ_BUF);
    return true;
}

// The levels and the frequencies of a trace; false when either cannot be
// read or their lengths differ.
bool ReadBlocks(ViSession session, const std::string& trace, std::vector<float>& levels,
                std::vector<float>& frequencies) {
    if (!SendText(session, "TRACE:DATA? " + trace + "\n")) {
        return false;
    }
    std::size_t count = 0;
    switch (ReadBlockStart(session, count)) {
    case BlockStart::Values:
        if (!ReadValues(session, count, levels)) {
            return false;
        }
        break;
    case BlockStart::TooLong:
        return false;
    case BlockStart::Invalid:
    case BlockStart::Failed:
        // No levels; the frequencies decide (a non-empty block then fails).
        break;
    }
    if (!SendText(session, "TRACE:DATA:X? " + trace + "\n")) {
        return false;
    }
    if (ReadBlockStart(session, count) != BlockStart::Values ||
        !ReadValues(session, count, frequencies)) {
        return false;
    }
    return frequencies.size() == levels.size();
}

bool ReadTraceBlocks(ViSession session, const std::string& trace, std::vector<float>& levels,
                     std::vector<float>& frequencies) {
    if (ReadBlocks(session, trace, levels, frequencies)) {
        return true;
    }
    // Whatever is left of the replies must not reach the next trace's read:
    // a device clear empties the instrument's output queue (VXI-11, HiSLIP,
    // USBTMC); on a raw socket it drops what has already arrived.
    viClear(session);
    return false;
}

// 1 to 9 from the last character of "TRACE1" … "TRACE6"; 0 otherwise.
int TraceNumber(const std::string& trace) {
    if (trace.empty() || trace.back() < '0' || trace.back() > '9') {
        return 0;
    }
    return trace.back() - '0';
}

// A reply word, or empty text when the query fails.
std::string WordOrEmpty(ViSession session, const std::string& command) {
    std::string word;
    if (!QueryWord(session, command, REPLY_LIMIT, word)) {
        word.clear();
    }
    return word;
}

} // namespace

void CInstrRSFSV::GetChannelList(ChannelList& out) {
    out = m_channelNames;
}

void CInstrRSFSV::GetActiveChannels(ChannelList& out) {
    out.clear();
    for (const std::string& trace : m_channelNames) {
        std::int32_t shown = 0;
        if (!QueryInt32(m_session, "DISPLAY:" + m_windowName + ":" + trace + ":STATE?\n", shown)) {
            break;
        }
        if (shown != 0) {
            out.push_back(trace);
        }
    }
}

bool CInstrRSFSV::BeginDataCapture() {
    return SendText(m_session, "FORMAT:DATA REAL, 32\n");
}

bool CInstrRSFSV::EndDataCapture() {
    return true;
}

bool CInstrRSFSV::GetWaveformData(const std::string& trace, WaveformRecord& out) {
    std::vector<float> levels;
    std::vector<float> frequencies;
    if (!ReadTraceBlocks(m_session, trace, levels, frequencies)) {
        const Step step(*this, "reading the data of " + trace);
        NoteFailure(VI_ERROR_IO);
        return false;
    }
    out.Resize(static_cast<std::uint32_t>(frequencies.size()));
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        out.y[i] = levels[i];
        out.x[i] = frequencies[i];
    }
    out.name = trace;
    out.xLabel = "Frequency/Hz";
    out.yLabel = "Level/" + WordOrEmpty(m_session, "UNIT:POWER?\n");

    const int number = TraceNumber(trace);
    std::string mode;
    std::string detector;
    if (number != 0) {
        const std::string n = std::to_string(number);
        mode = WordOrEmpty(m_session, "DISPLAY:TRACE" + n + ":MODE?\n");
        if (mode == "AVER") {
            mode += "/" + WordOrEmpty(m_session, "SENSE:AVER:TYPE?\n");
        }
        detector = WordOrEmpty(m_session, "SENSE:WINDOW:DETECTOR" + n + ":FUNCTION?\n");
    }
    out.yQualifier = detector + "/" + mode;
    return true;
}
