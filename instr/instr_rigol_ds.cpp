#include "instr/instr_rigol_ds.h"

bool CInstrRigolDS::StopInstrument() {
    if (SendCommand(":STOP") != VI_SUCCESS)
        return false;
    std::int32_t complete = 0;
    return QueryInteger("*OPC?", complete);
}

bool CInstrRigolDS::RunInstrument(bool run, bool single) {
    if (!run)
        return false;
    return SendCommand(single ? ":SINGLE" : ":RUN") == VI_SUCCESS;
}

bool CInstrRigolDS::GetScreenshot(ByteBuffer& out) {
    const ImageTransferSteps steps{
        .setUp = {},
        .query = [this] { return SendCommand(":DISP:DATA?") == VI_SUCCESS; },
        .read = ImageRead::Block,
    };
    return TransferScreenImage(out, steps);
}
