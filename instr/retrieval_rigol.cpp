// Waveform data of the Rigol DS1000Z/DS2000 oscilloscopes, as the DS1000Z
// Programming Guide (chapter 2, :WAVeform subsystem; also DS1000Z-E and
// MSO1000Z guides) describes it:
//   :WAVeform:SOURce CHANnel<n>, :WAVeform:MODE RAW (NORMal while running),
//   :WAVeform:FORMat BYTE, :WAVeform:PREamble? (ten fields
//   <format>,<type>,<points>,<count>,<xincrement>,<xorigin>,<xreference>,
//   <yincrement>,<yorigin>,<yreference>), then pages :WAVeform:STARt /
//   :WAVeform:STOP of at most 250 000 points (the guide's limit for BYTE),
//   each read with :WAVeform:DATA?.
//   V = (code - yorigin - yreference) * yincrement      (guide, :WAV:DATA?)
//   t = (i - xreference) * xincrement + xorigin
// Habits handled:
// - The DS2000 Programming Guide gives the preamble's format codes as
//   0 WORD, 1 BYTE, the DS1000Z and DS2000E guides as 0 BYTE, 1 WORD. BYTE
//   is asked for and the format field is not used: each page's block length
//   shows the sample width.
// - Each page's block is followed by a line feed (NULs before it, or
//   nothing, on some firmware): the rest of each reply is read and dropped.
// - RAW mode reads the internal memory only while stopped (guide,
//   :WAVeform:MODE): a running scope is stopped for the data and run again
//   afterwards.
// Not read: the digital channels D0-D15 of the MSO models (their data comes
// as bit fields of a different source set; not verified on an instrument).

#include "instr/instr_rigol_ds.h"
#include "instr/record_memory.h"
#include "instr/retrieval_block.h"
#include "instr/retrieval_channels.h"
#include "instr/retrieval_io.h"
#include "instr/retrieval_preamble.h"
#include "instr/scope_models.h"
#include "visa/ascii.h"
#include "wavedata/waveform_preamble.h"

#include <array>
#include <cmath>
#include <vector>

using namespace quarvel::wavedata;

namespace {

constexpr std::size_t kReplyLimit = 256;
constexpr std::uint32_t kPagePoints = 250000;

} // namespace

void CInstrRigolDS::GetChannelList(ChannelList& out) {
    if (m_channelNames.empty()) {
        const int count = ChannelCountOfModel(m_model);
        for (int n = 1; n <= count; ++n)
            m_channelNames.push_back("CHAN" + std::to_string(n));
    }
    out = m_channelNames;
}

void CInstrRigolDS::GetActiveChannels(ChannelList& out) {
    ChannelList names;
    GetChannelList(names);
    out = ChannelsDisplayed(m_session, names);
}

bool CInstrRigolDS::BeginDataCapture() {
    m_stoppedForData = false;
    std::string state; // TD, WAIT, RUN, AUTO or STOP
    m_readMemory = QueryWord(m_session, ":TRIG:STAT?\n", kReplyLimit, state);
    if (m_readMemory && !quarvel::ascii::EqualsIgnoringCase(state, "STOP")) {
        std::int32_t done = 0;
        m_stoppedForData = SendText(m_session, ":STOP\n") && QueryInt32(m_session, "*OPC?\n", done);
        m_readMemory = m_stoppedForData;
    }
    return true;
}

bool CInstrRigolDS::EndDataCapture() {
    if (!m_stoppedForData)
        return true;
    m_stoppedForData = false;
    return SendText(m_session, ":RUN\n");
}

bool CInstrRigolDS::GetWaveformData(const std::string& channel, WaveformRecord& out) {
    m_waveformFailure.clear();
    std::string preambleText;
    if (!SendText(m_session, ":WAV:SOUR " + channel + "\n") ||
        !SendText(m_session, m_readMemory ? ":WAV:MODE RAW\n" : ":WAV:MODE NORM\n") ||
        !SendText(m_session, ":WAV:FORM BYTE\n") ||
        !QueryLine(m_session, ":WAV:PRE?\n", kReplyLimit, preambleText)) {
        m_waveformFailure = "the waveform set-up or preamble query failed";
        return false;
    }
    TenFieldPreamble p;
    if (!ParseTenFieldPreamble(preambleText, p, m_waveformFailure))
        return false;

    // Each byte code has one voltage: looked up per point, computed once.
    std::array<double, 256> volts{};
    for (int code = 0; code < 256; ++code)
        volts[code] = (code - p.yOrigin - p.yReference) * p.yIncrement;
    // Each page is asked for before the one before it is converted, so the
    // instrument sends while this side computes.
    const auto askForPage = [&](std::uint32_t first) {
        const std::uint32_t count = std::min(kPagePoints, p.points - first);
        // Positions count from 1; both ends are inclusive.
        return SendText(m_session, ":WAV:STAR " + std::to_string(first + 1) + "\n") &&
               SendText(m_session, ":WAV:STOP " + std::to_string(first + count) + "\n") &&
               SendText(m_session, ":WAV:DATA?\n");
    };
    if (!askForPage(0)) {
        m_waveformFailure = "the first page could not be asked for";
        return false;
    }
    // The record's memory and its time axis, which the preamble gives whole,
    // are made while the first page comes.
    ReserveRecordMemory(out, p.points);
    AppendComputed(out.x, p.points, [&p](std::size_t i) {
        return (static_cast<double>(i) - p.xReference) * p.xIncrement + p.xOrigin;
    });
    std::vector<std::uint8_t> codes;
    for (std::uint32_t first = 0; first < p.points; first += kPagePoints) {
        const std::uint32_t count = std::min(kPagePoints, p.points - first);
        std::string why;
        const BlockQuery query{.command = {}, .maxBytes = count, .timeoutMs = m_transferTimeoutMs};
        if (!ReadDataBlock(m_session, query, codes, why) || codes.size() != count) {
            m_waveformFailure = "points " + std::to_string(first + 1) + " to " +
                                std::to_string(first + count) + ": " +
                                (why.empty() ? "the page brought " + std::to_string(codes.size()) +
                                                   " of its " + std::to_string(count) + " points"
                                             : why);
            return false;
        }
        if (first + count < p.points && m_cancelled && m_cancelled()) {
            m_waveformFailure = "cancelled after point " + std::to_string(first + count);
            return false;
        }
        if (first + count < p.points && !askForPage(first + count)) {
            m_waveformFailure =
                "the page after point " + std::to_string(first + count) + " could not be asked for";
            return false;
        }
        AppendComputed(out.y, count, [&](std::size_t k) { return volts[codes[k]]; });
    }
    out.name = channel;
    out.xLabel = "time/s";
    out.yLabel = "voltage/V";
    return true;
}
