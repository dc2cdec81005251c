#include "instr/instr_keys_infiniium.h"

#include "visa/ascii.h"

#include <string>

bool CInstrKeysInfiniium::StopInstrument() {
    std::string state; // RUN, STOP, SING, ...
    if (!QueryStateWord(":RSTATE?", state))
        return false;
    const bool wasRunning = quarvel::ascii::EqualsIgnoringCase(state, "RUN");
    StopBestEffort(":STOP");
    return wasRunning;
}

bool CInstrKeysInfiniium::RunInstrument(bool run, bool single) {
    if (!run)
        return false;
    return SendCommand(single ? ":SINGLE" : ":RUN") == VI_SUCCESS;
}

bool CInstrKeysInfiniium::GetScreenshot(ByteBuffer& out) {
    const ImageTransferSteps steps{
        .setUp = {},
        .query =
            [this] {
                return viPrintf(m_session, ":DISPLAY:DATA? PNG, SCREEN, ON, %s\n",
                                m_inkSaver ? "INVERT" : "NORMAL") == VI_SUCCESS;
            },
        .read = ImageRead::Block,
    };
    return TransferScreenImage(out, steps);
}
