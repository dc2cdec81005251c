#pragma once

#include "instr/instr_ll.h"

// Tektronix TDS oscilloscopes: PNG hardcopy sent over the network port. No
// run control.
class CInstrTekTDS : public CInstrLL {
public:
    CInstrTekTDS();
    bool GetScreenshot(ByteBuffer& out) override;
};
