#pragma once

#include "capture/capture_controller.h"
#include "tests/capture/fake_capture_window.h"
#include "tests/support/sim_process.h"
#include "tests/support/sim_session.h"
#include "tests/support/temp_dir.h"

#include <QImage>

#include <cstddef>
#include <string>
#include <vector>

namespace quarvel::test {

// A simulator, a fake window with its form pointed at the simulator and at a
// fresh image directory, and the capture controller between them.
struct SimBench {
    explicit SimBench(const std::vector<std::string>& simArgs);

    // Connects; true when a driver was created.
    bool Connect();
    // Connects over `lan`, the controller's resource manager pointed at the
    // simulator's portmapper and USB/IP server.
    bool ConnectOver(Lan lan);
    // The picture the simulator serves now, fetched over a second connection
    // (null when it cannot be fetched), rescaled when `rescaleTo` is valid.
    QImage ReferencePicture(QSize rescaleTo = QSize()) const;
    // Waits until the simulator has handled everything sent over the
    // controller's session (a "*OPC?" round trip), so the transcript is
    // complete. Does nothing without a connection.
    void Sync();
    // Commands the simulator received that equal `command` (blanks and case
    // ignored).
    int CountReceived(const std::string& command);
    // Position of the first received command equal to `command` at or after
    // `from`, -1 when none.
    int IndexOfReceived(const std::string& command, int from = 0);

    SimProcess sim;
    TempDir dir;
    FakeCaptureWindow window;
    CCaptureController controller{window};
};

// Same size and at most 2 % of the pixels differ noticeably (time stamps
// drawn on a screen may change between two fetches).
bool SimilarPictures(const QImage& a, const QImage& b);

// The words of `text`, separated by blanks: simulator options as they would
// be given on its command line.
std::vector<std::string> Words(const std::string& text);

// The lines of `text` (its line feeds).
std::size_t CountLines(const std::string& text);

// The file decoded, null when it cannot be read.
QImage ReadPicture(const std::string& path);

} // namespace quarvel::test
