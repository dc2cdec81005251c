#include "instr/instr_keys_infiniivision.h"

namespace {

// Bit 3 of the Operation Status Condition register: acquisition running.
constexpr std::int32_t OPERATION_RUN_BIT = 8;

} // namespace

CInstrKeysInfiniiVision::CInstrKeysInfiniiVision()
    : m_screenshotCommand(":DISPLAY:DATA? PNG, SCREEN, COLOR") {
    m_channelNames.clear();
}

CInstrKeysInfiniiVision::~CInstrKeysInfiniiVision() = default;

CInstrKeysInfiniiVisionX::CInstrKeysInfiniiVisionX() {
    m_screenshotCommand = ":DISPLAY:DATA? PNG, COLOR";
}

bool CInstrKeysInfiniiVision::StopInstrument() {
    std::int32_t condition = 0;
    // Without the register the run state is unknown: leave the instrument
    // running and report that it need not be restarted.
    if (!QueryInteger(":OPEREGISTER:CONDITION?", condition))
        return false;
    const bool wasRunning = (condition & OPERATION_RUN_BIT) != 0;
    StopBestEffort(":STOP");
    return wasRunning;
}

bool CInstrKeysInfiniiVision::RunInstrument(bool run, bool single) {
    if (!run)
        return false;
    return viPrintf(m_session, "%s\n", single ? ":SINGLE" : ":RUN") == VI_SUCCESS;
}

bool CInstrKeysInfiniiVision::GetScreenshot(ByteBuffer& out) {
    // The ink-saver setting is sent before every capture, so the instrument
    // keeps whatever the last capture asked for.
    const ImageTransferSteps steps{
        .setUp =
            [this] {
                return SendCommand(m_inkSaver ? ":HARDCOPY:INKSAVER ON"
                                              : ":HARDCOPY:INKSAVER OFF") == VI_SUCCESS;
            },
        .query = [this] { return SendCommand(m_screenshotCommand.c_str()) == VI_SUCCESS; },
        .read = ImageRead::Block,
    };
    return TransferScreenImage(out, steps);
}
