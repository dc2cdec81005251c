#pragma once

#include "instr/instr_ll.h"

// Keysight (Agilent) Infiniium oscilloscopes: PNG screen image (normal or
// inverted colours) and run control. No waveform data.
class CInstrKeysInfiniium : public CInstrLL {
public:
    bool StopInstrument() override;
    bool RunInstrument(bool run, bool single) override;
    bool GetScreenshot(ByteBuffer& out) override;
    // Offers no data channels: the caller's list stays as it is.
    void GetChannelList(ChannelList& out) override;
};
