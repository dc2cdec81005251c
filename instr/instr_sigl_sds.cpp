#include "instr/instr_sigl_sds.h"

#include "instr/quirk_table.h"
#include "visa/ascii.h"

// The SDS1000X-E programming guide lists the IEEE 488.2 common commands,
// *ESR? among them, and no SYSTem:ERRor? (its own error register is CMR?);
// unverified on the instrument.
CInstrSiglSDS::CInstrSiglSDS() : m_triggerMode("AUTO") {
    m_errorQuery = "*ESR?";
}

bool CInstrSiglSDS::StopInstrument() {
    std::string mode;
    if (!QueryStateWord("TRMD?", mode))
        return false;

    // AUTO and NORM mean acquiring. The word is kept as the instrument sent
    // it, so "Run" gives back exactly that mode. SINGLE and STOP leave the
    // mode saved before.
    bool wasRunning = false;
    if (quarvel::ascii::EqualsIgnoringCase(mode, "AUTO") ||
        quarvel::ascii::EqualsIgnoringCase(mode, "NORM")) {
        m_triggerMode = mode;
        wasRunning = true;
    }
    StopBestEffort("TRMD STOP");
    return wasRunning;
}

bool CInstrSiglSDS::RunInstrument(bool run, bool single) {
    if (!run)
        return false;
    if (single)
        return SendCommand("TRMD SINGLE") == VI_SUCCESS;
    return viPrintf(m_session, "TRMD %s\n", m_triggerMode.c_str()) == VI_SUCCESS;
}

bool CInstrSiglSDS::GetScreenshot(ByteBuffer& out) {
    const ImageTransferSteps steps{
        .setUp = {},
        .query = [this] { return SendCommand("SCDP") == VI_SUCCESS; },
        // The white space after the block is consumed with it; several
        // models send the bare BMP file instead of a block.
        .read = quarvel::instr::HabitsOf(quarvel::instr::Family::SiglentSds).rawBmpScreenImage
                    ? ImageRead::BlockOrRawBmp
                    : ImageRead::BlockAndWhiteSpace,
    };
    return TransferScreenImage(out, steps);
}
