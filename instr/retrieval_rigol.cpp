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
#include "instr/retrieval_channels.h"
#include "instr/retrieval_io.h"
#include "instr/rigol_waveform.h"
#include "instr/scope_models.h"
#include "visa/ascii.h"
#include "wavedata/waveform_preamble.h"

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
    TenFieldPreamble p;
    if (!quarvel::instr::SelectRigolSource(m_session, channel, m_readMemory ? "RAW" : "NORM",
                                           "BYTE")) {
        m_waveformFailure = "the waveform set-up or preamble query failed";
        return false;
    }
    if (!quarvel::instr::QueryRigolPreamble(m_session, MAX_WAVEFORM_POINTS, p, m_waveformFailure))
        return false;
    const quarvel::instr::RigolPageRead read{.points = p.points,
                                             .pagePoints = kPagePoints,
                                             .sampleBytes = 1,
                                             .timeoutMs = m_transferTimeoutMs,
                                             .beforeData = {},
                                             .cancelled = m_cancelled};
    return quarvel::instr::ReadRigolPages(m_session, read, p, channel, out, m_waveformFailure);
}
