#include "instr/rigol_waveform.h"

#include "instr/record_memory.h"
#include "instr/retrieval_block.h"
#include "instr/retrieval_io.h"

#include <algorithm>
#include <array>
#include <vector>

namespace quarvel::instr {

using quarvel::wavedata::SendText;
using quarvel::wavedata::TenFieldPreamble;

namespace {

constexpr std::size_t kReplyLimit = 256;

std::string PointRange(std::uint32_t first, std::uint32_t count) {
    return "points " + std::to_string(first + 1) + " to " + std::to_string(first + count);
}

// Positions count from 1; both ends are inclusive.
bool AskForPage(ViSession session, const RigolPageRead& read, std::uint32_t first) {
    const std::uint32_t count = std::min(read.pagePoints, read.points - first);
    return SendText(session, ":WAV:STAR " + std::to_string(first + 1)) &&
           SendText(session, ":WAV:STOP " + std::to_string(first + count)) &&
           (!read.beforeData || read.beforeData()) && SendText(session, ":WAV:DATA?");
}

// The page's points, appended to `out` while the page comes.
template <typename Time, typename Volts>
bool ReadPage(ViSession session, const RigolPageRead& read, std::uint32_t first, Time time,
              Volts volts, std::vector<std::uint8_t>& data, WaveformRecord& out, std::string& why) {
    const std::uint32_t count = std::min(read.pagePoints, read.points - first);
    quarvel::wavedata::ArrivingPoints arriving(out, first, count, read.sampleBytes, time, volts);
    const quarvel::wavedata::BlockQuery query{.command = {},
                                              .maxBytes = std::size_t{count} * read.sampleBytes,
                                              .timeoutMs = read.timeoutMs,
                                              .received = std::ref(arriving)};
    bool ok = quarvel::wavedata::ReadDataBlock(session, query, data, why);
    // The MSO5000 answers a data query that comes too soon after a
    // trigger with an empty block (scopehal pull request 696): asked
    // once more, after the wait of beforeData.
    if (ok && data.empty()) {
        ok = AskForPage(session, read, first) &&
             quarvel::wavedata::ReadDataBlock(session, query, data, why);
    }
    if (!ok || data.size() != query.maxBytes) {
        why = PointRange(first, count) + ": " +
              (ok || why.empty()
                   ? "the page brought " + std::to_string(data.size() / read.sampleBytes) +
                         " of its " + std::to_string(count) + " points"
                   : why);
        return false;
    }
    const bool more = first + count < read.points;
    if (more && read.cancelled && read.cancelled()) {
        why = "cancelled after point " + std::to_string(first + count);
        return false;
    }
    // The next page is asked for before the rest of this one is converted.
    if (more && !AskForPage(session, read, first + count)) {
        why = "the page after point " + std::to_string(first + count) + " could not be asked for";
        return false;
    }
    arriving.Finish(data);
    return true;
}

} // namespace

bool SelectRigolSource(ViSession session, const std::string& channel, std::string_view mode,
                       std::string_view format) {
    return SendText(session, ":WAV:SOUR " + channel) &&
           SendText(session, ":WAV:MODE " + std::string(mode)) &&
           SendText(session, ":WAV:FORM " + std::string(format));
}

bool QueryRigolPreamble(ViSession session, std::uint32_t maxPoints, TenFieldPreamble& preamble,
                        std::string& why) {
    std::string text;
    if (!quarvel::wavedata::QueryLine(session, ":WAV:PRE?", kReplyLimit, text)) {
        why = "the waveform set-up or preamble query failed";
        return false;
    }
    return quarvel::wavedata::ParseTenFieldPreamble(text, preamble, why, maxPoints);
}

bool ReadRigolPages(ViSession session, const RigolPageRead& read, const TenFieldPreamble& preamble,
                    const std::string& channel, WaveformRecord& out, std::string& why) {
    out.sampleKind = SAMPLE_KIND_DOUBLE;
    if (read.points == 0 || read.pagePoints == 0 || !AskForPage(session, read, 0)) {
        why = "the first page could not be asked for";
        return false;
    }
    // The record's memory is reserved while the first page comes; each
    // page's points are made while it comes (instr/record_memory.h).
    const quarvel::wavedata::PrefaultedRecordMemory memory(out, read.points);
    const TenFieldPreamble& p = preamble;
    const auto time = [&p](std::size_t i) {
        return (static_cast<double>(i) - p.xReference) * p.xIncrement + p.xOrigin;
    };
    // Each byte code has one voltage: looked up per point, computed once.
    std::array<double, 256> byteVolts{};
    for (int code = 0; code < 256; ++code)
        byteVolts[code] = (code - p.yOrigin - p.yReference) * p.yIncrement;
    const auto byteCodeVolts = [&byteVolts](const std::uint8_t* b) { return byteVolts[b[0]]; };
    const auto wordCodeVolts = [&p](const std::uint8_t* b) {
        const unsigned code = static_cast<unsigned>(b[0] | b[1] << 8);
        return (code - p.yOrigin - p.yReference) * p.yIncrement;
    };
    std::vector<std::uint8_t> data;
    for (std::uint32_t first = 0; first < read.points; first += read.pagePoints) {
        const bool ok = read.sampleBytes == 1
                            ? ReadPage(session, read, first, time, byteCodeVolts, data, out, why)
                            : ReadPage(session, read, first, time, wordCodeVolts, data, out, why);
        if (!ok)
            return false;
    }
    out.name = channel;
    out.xLabel = "time/s";
    out.yLabel = "voltage/V";
    return true;
}

} // namespace quarvel::instr
