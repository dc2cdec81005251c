// Waveform data of the Keysight Infiniium oscilloscopes, as the Infiniium
// Oscilloscopes Programmer's Guide (Waveform Commands) describes it:
//   :WAVeform:SOURce CHANnel<n>, :WAVeform:FORMat WORD, :WAVeform:BYTeorder
//   LSBFirst, :WAVeform:PREamble? (its first ten fields are those of
//   InfiniiVision: format, type, points, count, x increment, x origin,
//   x reference, y increment, y origin, y reference; more follow), then
//   :WAVeform:DATA? as one block.
//   V = (code - yreference) * yincrement + yorigin, the code a signed
//   16-bit integer (Infiniium sends WORD data signed; InfiniiVision's is
//   unsigned: not verified on an instrument);
//   t = (i - xreference) * xincrement + xorigin.
// The data is read while stopped (:RSTate? RUN: :STOP, and :RUN afterwards),
// so every channel comes from one acquisition.

#include "instr/instr_keys_infiniium.h"
#include "instr/record_memory.h"
#include "instr/retrieval_block.h"
#include "instr/retrieval_channels.h"
#include "instr/retrieval_io.h"
#include "instr/retrieval_preamble.h"
#include "visa/ascii.h"
#include "wavedata/waveform_preamble.h"

#include <vector>

using namespace quarvel::wavedata;

namespace {

constexpr std::size_t kReplyLimit = 1024;

} // namespace

void CInstrKeysInfiniium::GetChannelList(ChannelList& out) {
    out = {"CHAN1", "CHAN2", "CHAN3", "CHAN4"};
}

void CInstrKeysInfiniium::GetActiveChannels(ChannelList& out) {
    ChannelList names;
    GetChannelList(names);
    out = ChannelsDisplayed(m_session, names);
}

bool CInstrKeysInfiniium::BeginDataCapture() {
    std::string state;
    std::int32_t done = 0;
    m_stoppedForData = QueryWord(m_session, ":RSTATE?\n", kReplyLimit, state) &&
                       quarvel::ascii::EqualsIgnoringCase(state, "RUN") &&
                       SendText(m_session, ":STOP\n") && QueryInt32(m_session, "*OPC?\n", done);
    return true;
}

bool CInstrKeysInfiniium::EndDataCapture() {
    const bool ran = !m_stoppedForData || SendText(m_session, ":RUN\n");
    m_stoppedForData = false;
    return ran;
}

bool CInstrKeysInfiniium::GetWaveformData(const std::string& channel, WaveformRecord& out) {
    m_waveformFailure.clear();
    std::string preambleText;
    if (!SendText(m_session, ":WAV:SOUR " + channel + "\n") ||
        !SendText(m_session, ":WAV:FORM WORD\n") || !SendText(m_session, ":WAV:BYT LSBF\n") ||
        !QueryLine(m_session, ":WAV:PRE?\n", kReplyLimit, preambleText)) {
        m_waveformFailure = "the waveform set-up or preamble query failed";
        return false;
    }
    TenFieldPreamble p;
    if (!ParseTenFieldPreamble(preambleText, p, m_waveformFailure))
        return false;
    std::vector<std::uint8_t> codes;
    const std::size_t bytes = static_cast<std::size_t>(p.points) * 2;
    const BlockQuery query{
        .command = ":WAV:DATA?\n", .maxBytes = bytes, .timeoutMs = m_transferTimeoutMs};
    if (!QueryDataBlock(m_session, query, codes, m_waveformFailure))
        return false;
    if (codes.size() != bytes) {
        m_waveformFailure = "the data block brought " + std::to_string(codes.size() / 2) +
                            " of the " + std::to_string(p.points) + " points announced";
        return false;
    }
    // Each value written once, into memory in huge pages (instr/record_memory.h).
    ReserveRecordMemory(out, p.points);
    AppendComputed(out.y, p.points, [&](std::size_t i) {
        const auto code = static_cast<std::int16_t>(codes[2 * i] | codes[2 * i + 1] << 8);
        return (code - p.yReference) * p.yIncrement + p.yOrigin;
    });
    AppendComputed(out.x, p.points, [&p](std::size_t i) {
        return (static_cast<double>(i) - p.xReference) * p.xIncrement + p.xOrigin;
    });
    out.name = channel;
    out.xLabel = "time/s";
    out.yLabel = "voltage/V";
    return true;
}
