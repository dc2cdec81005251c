#pragma once

#include "instr/instr_ll.h"

// Keysight (Agilent) Infiniium oscilloscopes: PNG screen image (normal or
// inverted colours), run control and (in instr/retrieval_infiniium.cpp)
// waveform data of the analog channels.
class CInstrKeysInfiniium : public CInstrLL {
public:
    bool StopInstrument() override;
    bool RunInstrument(bool run, bool single) override;
    bool GetScreenshot(ByteBuffer& out) override;
    // ---- Waveform data operations (instr/retrieval_infiniium.cpp) ---------
    void GetChannelList(ChannelList& out) override;
    void GetActiveChannels(ChannelList& out) override;
    bool GetWaveformData(const std::string& channel, WaveformRecord& out) override;
    bool BeginDataCapture() override;
    bool EndDataCapture() override;

private:
    // BeginDataCapture stopped the scope; EndDataCapture runs it again.
    bool m_stoppedForData = false;
};
