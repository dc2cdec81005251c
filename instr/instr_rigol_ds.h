#pragma once

#include "instr/instr_ll.h"

// Rigol DS1000Z/MSO1000Z, DS2000 and DS6000 oscilloscopes: BMP screen image and
// run control. The ink-saver option has no counterpart on these models.
class CInstrRigolDS : public CInstrLL {
public:
    // Always reports "was running" after a successful stop: the run state is
    // not asked, so a capture that stopped the instrument always restarts it.
    bool StopInstrument() override;
    bool RunInstrument(bool run, bool single) override;
    bool GetScreenshot(ByteBuffer& out) override;
};
