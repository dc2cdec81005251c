// Waveform data of the Tektronix TDS oscilloscopes (TDS3000 series; the
// TDS 1000/2000 and TBS use the same commands), as the TDS3000/TDS3000B/
// TDS3000C Series Programmer Manual (Waveform Commands; also TDS200/1000/
// 2000 Programmer Manual 071-0381) describes it:
//   HEADer 1 during the transfer (the setting found is put back), so the
//   preamble names its fields; DATa:SOUrce CH<n>, DATa:ENCdg RIBinary
//   (signed, most significant byte first), DATa:WIDth 1, DATa:STARt 1,
//   DATa:STOP <as many as the record holds>; WFMPre? (not WFMOutpre?, which
//   the TDS 3000 does not have: the manual lists WFMPre), then CURVe?.
//   V = (code - YOFf) * YMUlt + YZEro;  t = XZEro + (i - PT_Off) * XINcr
// Habits handled:
// - The preamble's fields differ in number and order between models (WFId
//   is missing when the channel has no waveform, newer models send 22 to 24
//   fields): read by name, long or short form, not by position.
// - Bytes that some firmware sends after the CURVe? block, before its line
//   feed: the rest of the reply is read and dropped.
// - Record lengths: TDS 3000 500 or 10 000 points, TDS 1000/2000 and TBS
//   2 500; the preamble's NR_Pt is what is read.
// The acquisition is stopped for the transfer (ACQuire:STATE 0) and run
// again afterwards when it ran, so every channel comes from one
// acquisition (the manual's advice for CURVe? while acquiring). The
// transfer itself is instr/tek_curve.cpp, shared with the newer families.

#include "instr/instr_tek_tds.h"
#include "instr/retrieval_io.h"
#include "instr/scope_models.h"
#include "instr/tek_curve.h"
#include "wavedata/waveform_preamble.h"

using namespace quarvel::wavedata;

void CInstrTekTDS::GetChannelList(ChannelList& out) {
    if (m_channelNames.empty()) {
        const int count = ChannelCountOfModel(m_model);
        for (int n = 1; n <= count; ++n)
            m_channelNames.push_back("CH" + std::to_string(n));
    }
    out = m_channelNames;
}

void CInstrTekTDS::GetActiveChannels(ChannelList& out) {
    out.clear();
    ChannelList names;
    GetChannelList(names);
    for (const std::string& name : names) {
        std::int32_t shown = 0;
        if (QueryInt32(m_session, "SELect:" + name + "?\n", shown) && shown != 0)
            out.push_back(name);
    }
}

bool CInstrTekTDS::BeginDataCapture() {
    m_restoreHeaders = TekPreambleHeadersOn(m_session, false);
    m_stoppedForData = StopTekAcquisition(m_session, "ACQuire:STATE 0");
    return SendText(m_session, "DATa:ENCdg RIBinary\n") && SendText(m_session, "DATa:WIDth 1\n") &&
           SendText(m_session, "DATa:STARt 1\n") &&
           SendText(m_session, "DATa:STOP " + std::to_string(MAX_WAVEFORM_POINTS) + "\n");
}

bool CInstrTekTDS::EndDataCapture() {
    bool ok = true;
    if (m_stoppedForData)
        ok = SendText(m_session, "ACQuire:STATE 1\n");
    m_stoppedForData = false;
    if (!m_restoreHeaders.empty())
        ok = SendText(m_session, m_restoreHeaders + "\n") && ok;
    return ok;
}

bool CInstrTekTDS::GetWaveformData(const std::string& channel, WaveformRecord& out) {
    m_waveformFailure.clear();
    if (!SendText(m_session, "DATa:SOUrce " + channel + "\n")) {
        m_waveformFailure = "the source could not be chosen";
        return false;
    }
    return ReadTekCurve(m_session, "WFMPre?\n", m_transferTimeoutMs, channel, out,
                        m_waveformFailure);
}
