#pragma once

#include "instr/instr_ll.h"

// Rigol DS1000Z/MSO1000Z, DS2000 and DS6000 oscilloscopes: BMP screen image,
// run control and (in instr/retrieval_rigol.cpp) waveform data of the
// analog channels. The ink-saver option has no counterpart on these models.
class CInstrRigolDS : public CInstrLL {
public:
    // Always reports "was running" after a successful stop: the run state is
    // not asked, so a capture that stopped the instrument always restarts it.
    bool StopInstrument() override;
    bool RunInstrument(bool run, bool single) override;
    bool GetScreenshot(ByteBuffer& out) override;

    // ---- Waveform data operations (instr/retrieval_rigol.cpp) -------------
    void GetChannelList(ChannelList& out) override;
    void GetActiveChannels(ChannelList& out) override;
    bool GetWaveformData(const std::string& channel, WaveformRecord& out) override;
    bool BeginDataCapture() override;
    bool EndDataCapture() override;

private:
    // RAW mode reads the whole memory, which the guide allows only while
    // stopped; otherwise NORMal mode reads the screen.
    bool m_readMemory = false;
    // BeginDataCapture stopped the scope; EndDataCapture runs it again.
    bool m_stoppedForData = false;
};
