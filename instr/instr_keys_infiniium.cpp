#include "instr/instr_keys_infiniium.h"

#include "instr/instr_text.h"

CInstrKeysInfiniium::CInstrKeysInfiniium() {
    m_imageBufferSize = IMAGE_BUFFER_CAPACITY;
    m_inkSaver = false;
}

bool CInstrKeysInfiniium::StopInstrument() {
    if (SendCommand(":RSTATE?") != VI_SUCCESS)
        return false;
    char state[256] = {};
    // One word (RUN, STOP, SING, ...); without a width the VISA layer stores at
    // most 256 bytes, terminator included: this buffer.
    if (viScanf(m_session, "%s", state) != VI_SUCCESS)
        return false;
    const bool wasRunning = EqualsIgnoringCase(state, "RUN");

    // The stop is best effort; "*OPC?" only waits until it has taken effect.
    SendCommand(":STOP");
    ViInt32 complete = 0;
    viQueryf(m_session, "*OPC?\n", "%d", &complete);
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

void CInstrKeysInfiniium::GetChannelList(ChannelList& /*out*/) {}
