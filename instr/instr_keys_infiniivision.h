#pragma once

#include "instr/instr_ll.h"

#include <string>

// Keysight (Agilent) InfiniiVision 5000/6000/7000 oscilloscopes: PNG screen
// image, run control through the Operation Status Condition register, and
// (in instr/retrieval_infiniivision.cpp) waveform data.
class CInstrKeysInfiniiVision : public CInstrLL {
public:
    CInstrKeysInfiniiVision();
    ~CInstrKeysInfiniiVision() override;

    bool StopInstrument() override;
    bool RunInstrument(bool run, bool single) override;
    bool GetScreenshot(ByteBuffer& out) override;

    // ---- Waveform data operations ----------------------------------------
    // Declared here, defined in instr/retrieval_infiniivision.cpp.
    void GetActiveChannels(ChannelList& out) override;
    void GetChannelList(ChannelList& out) override;
    bool GetWaveformData(const std::string& channel, WaveformRecord& out) override;
    bool BeginDataCapture() override;
    bool EndDataCapture() override;
    // ---- end of waveform data operations ---------------------------------

    // The screen-image query, without its line feed.
    const std::string& GetScreenshotCommand() const { return m_screenshotCommand; }

protected:
    // The query that returns the screen image (sent followed by a line feed).
    std::string m_screenshotCommand;
    // Timebase range saved by BeginDataCapture, restored by EndDataCapture.
    std::string m_savedTimebaseRange;
};

// The X-series (DSO-X, MSO-X) answers the same commands; only its screen-image
// query lacks the SCREEN argument, which these models do not accept.
class CInstrKeysInfiniiVisionX : public CInstrKeysInfiniiVision {
public:
    CInstrKeysInfiniiVisionX();
};
