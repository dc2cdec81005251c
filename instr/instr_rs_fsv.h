#pragma once

#include "instr/instr_ll.h"

#include <string>

// Rohde & Schwarz FSV spectrum analysers. The analyser prints a PNG hardcopy
// of its screen into a file on its own mass memory, which is then read back.
// The 1600 x 1200 hardcopy is shown scaled to 800 x 600. No run control.
class CInstrRSFSV : public CInstrLL {
public:
    // Where the analyser writes the hardcopy; every capture overwrites it.
    static constexpr const char* HARDCOPY_FILE = "C:\\r_s\\instr\\user\\hardcopy.png";

    CInstrRSFSV();
    ~CInstrRSFSV() override;

    bool GetScreenshot(ByteBuffer& out) override;

    // ---- Trace data operations -------------------------------------------
    // Declared here, defined in instr/retrieval_fsv.cpp.
    void GetActiveChannels(ChannelList& out) override;
    void GetChannelList(ChannelList& out) override;
    bool GetWaveformData(const std::string& trace, WaveformRecord& out) override;
    bool BeginDataCapture() override;
    bool EndDataCapture() override;
    // ---- end of trace data operations ------------------------------------

    bool IsHardcopyReady() const { return m_hardcopyReady; }

protected:
    // The display window whose traces are read.
    std::string m_windowName;

private:
    // Sends the hardcopy set-up while it has not yet succeeded once, then the
    // colour map of this capture.
    bool SetUpHardcopy();
};
