#include "instr/instr_tek_tds.h"

// The TDS3000 series answers the IEEE 488.2 event status register (*ESR?;
// TDS3000 Series Programmer Manual, "Status and Events"); its SCPI-style
// error queue is EVMsg?, not SYSTem:ERRor? (unverified on the instrument).
CInstrTekTDS::CInstrTekTDS() {
    m_errorQuery = "*ESR?";
}

bool CInstrTekTDS::GetScreenshot(ByteBuffer& out) {
    // The hardcopy goes out as the raw PNG file, without a block header, and
    // ends with the message. Printing it takes a while, so every hardcopy
    // command is already sent under the transfer timeout.
    const ImageTransferSteps steps{
        .setUp = {},
        .query =
            [this] {
                return SendCommands({"HARDCOPY:FORMAT PNG", "HARDCOPY:LAYOUT PORTRAIT",
                                     "HARDCOPY:PORT ETHERNET", "HARDCOPY:PALETTE NORMAL"}) &&
                       viPrintf(m_session, "HARDCOPY:INKSAVER %s\n", m_inkSaver ? "ON" : "OFF") ==
                           VI_SUCCESS &&
                       SendCommand("HARDCOPY START") == VI_SUCCESS;
            },
        .read = ImageRead::Raw,
    };
    return TransferScreenImage(out, steps);
}
