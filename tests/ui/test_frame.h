#pragma once

#include "tests/ui/qt_app_fixture.h"
#include "ui/main_frame.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quarvel::test {

// The real main window with its message boxes and save dialog answered by
// the test instead of a person.
class TestFrame : public CMainFrame {
public:
    TestFrame();
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskSaveFileName(const SaveDialogRequest& request, std::string& path) override;
    // The test's user acts from inside a transfer: the events it posts there
    // are delivered while the window processes events within that transfer.
    bool TransferProgress(std::uint64_t done, std::uint64_t expected) override;

    template <typename T> T* Get(const char* name) const { return Child<T>(this, name); }
    QString Status() const;
    // Types the address into its box and clicks Connect; true when the
    // window then has a driver for the instrument.
    bool ConnectTo(const std::string& address);
    // Captures go one by one into `dir` ("Save sequential").
    void SaveInto(const std::string& dir, bool stopWhileCapturing = false);

    std::function<void(std::uint64_t done, std::uint64_t expected)> duringTransfer;
    std::vector<std::pair<std::string, MessageIcon>> messages;
    int saveDialogs = 0;
    std::string savePath; // empty: the dialog is cancelled
};

} // namespace quarvel::test
