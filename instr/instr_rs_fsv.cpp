#include "instr/instr_rs_fsv.h"

#include <string>

namespace {

const std::string MMEM_NAME_COMMAND =
    std::string(":MMEM:NAME '") + CInstrRSFSV::HARDCOPY_FILE + "'";
const std::string MMEM_DATA_QUERY = std::string(":MMEM:DATA? '") + CInstrRSFSV::HARDCOPY_FILE + "'";

} // namespace

CInstrRSFSV::CInstrRSFSV() : m_windowName("WINDOW1") {
    m_resizeImage = true;
    m_hardcopyReady = false;
    m_resize = ScreenshotResize{0, 0, 1600, 1200, 800, 600};
    m_channelNames = {"TRACE1", "TRACE2", "TRACE3", "TRACE4", "TRACE5", "TRACE6"};
}

CInstrRSFSV::~CInstrRSFSV() = default;

bool CInstrRSFSV::SetUpHardcopy() {
    // The hardcopy destination and format stay set in the analyser, so they
    // are sent once per connection; after a failure the whole set-up is sent
    // again by the next capture.
    if (!m_hardcopyReady) {
        if (!SendCommands({
                ":SYSTEM:DISPLAY:UPDATE ON",
                MMEM_NAME_COMMAND.c_str(),
                ":HCOPY:DESTINATION 'MMEM'",
                ":HCOPY:DEVICE:LANGUAGE PNG",
                ":HCOPY:DEVICE:COLOR ON",
                ":HCOPY:ITEM:WINDOW:TEXT ''",
                ":HCOPY:TDSTAMP:STATE OFF",
            }))
            return false;
        m_hardcopyReady = true;
    }
    // Colour map 2 prints on a white background (ink saver), 4 as on screen.
    return SendCommand(m_inkSaver ? ":HCOPY:CMAP:DEFAULT2" : ":HCOPY:CMAP:DEFAULT4") == VI_SUCCESS;
}

bool CInstrRSFSV::GetScreenshot(ByteBuffer& out) {
    const ImageTransferSteps steps{
        .setUp = [this] { return SetUpHardcopy(); },
        // "*WAI" holds the file read back until the hardcopy has been written.
        .query =
            [this] {
                return SendCommands({":HCOPY", "*WAI", MMEM_DATA_QUERY.c_str()});
            },
        .read = ImageRead::Block,
    };
    return TransferScreenImage(out, steps);
}
