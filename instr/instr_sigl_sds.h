#pragma once

#include "instr/instr_ll.h"

#include <string>

// Siglent SDS oscilloscopes: BMP screen image and run control through the
// trigger mode. The ink-saver option has no counterpart on these models.
class CInstrSiglSDS : public CInstrLL {
public:
    CInstrSiglSDS();

    bool StopInstrument() override;
    bool RunInstrument(bool run, bool single) override;
    bool GetScreenshot(ByteBuffer& out) override;

    const std::string& GetTriggerMode() const { return m_triggerMode; }

private:
    // The trigger mode "Run" restores, as the instrument last reported it.
    std::string m_triggerMode;
};
