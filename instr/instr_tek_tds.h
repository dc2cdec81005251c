#pragma once

#include "instr/instr_ll.h"

#include <string>

// Tektronix TDS oscilloscopes: PNG hardcopy sent over the network port, and
// (in instr/retrieval_tektronix.cpp) waveform data of the channels. No run
// control.
class CInstrTekTDS : public CInstrLL {
public:
    CInstrTekTDS();
    bool GetScreenshot(ByteBuffer& out) override;

    // ---- Waveform data operations (instr/retrieval_tektronix.cpp) ---------
    void GetChannelList(ChannelList& out) override;
    void GetActiveChannels(ChannelList& out) override;
    bool GetWaveformData(const std::string& channel, WaveformRecord& out) override;
    bool BeginDataCapture() override;
    bool EndDataCapture() override;

private:
    // Puts back the HEADer setting found before the transfer ("" when it was
    // not read).
    std::string m_restoreHeaders;
    // BeginDataCapture stopped the acquisition; EndDataCapture restarts it.
    bool m_stoppedForData = false;
};
