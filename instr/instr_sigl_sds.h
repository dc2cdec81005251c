#pragma once

#include "instr/instr_ll.h"

#include <string>

// Siglent SDS oscilloscopes: BMP screen image, run control through the
// trigger mode and (in instr/retrieval_siglent.cpp) waveform data with the
// older command set (SDS1000X-E, SDS2000X-E). The ink-saver option has no
// counterpart on these models.
class CInstrSiglSDS : public CInstrLL {
public:
    CInstrSiglSDS();

    bool StopInstrument() override;
    bool RunInstrument(bool run, bool single) override;
    bool GetScreenshot(ByteBuffer& out) override;

    const std::string& GetTriggerMode() const { return m_triggerMode; }

    // ---- Waveform data operations (instr/retrieval_siglent.cpp) -----------
    void GetChannelList(ChannelList& out) override;
    void GetActiveChannels(ChannelList& out) override;
    bool GetWaveformData(const std::string& channel, WaveformRecord& out) override;
    bool BeginDataCapture() override;
    bool EndDataCapture() override;

private:
    // The reply-header setting (CHDR) found before the transfer, put back
    // after it; empty when it was not read.
    std::string m_savedReplyHeaders;
    // BeginDataCapture stopped the scope; EndDataCapture runs it again.
    bool m_stoppedForData = false;
    // The trigger mode "Run" restores, as the instrument last reported it.
    std::string m_triggerMode;
};
