#include "tests/capture/fake_capture_window.h"

#include <algorithm>

namespace quarvel::test {

void FakeCaptureForm::SetSequence(std::uint32_t number, const std::string& text) {
    sequenceNumber = number;
    sequenceText = text;
}

void FakeCaptureForm::SetConnected(bool isConnected) {
    connected = isConnected;
    if (!isConnected) {
        idnText = "<Instrument disconnected>";
        offeredChannels.clear();
    }
}

void FakeCaptureForm::AddDirToHistory(const std::string& directory) {
    std::erase(dirHistory, directory);
    dirHistory.insert(dirHistory.begin(), directory);
}

void FakeCaptureForm::StashComments() {
    ++stashCount;
    if (!comments.empty())
        lastComments = comments;
    comments.clear();
}

bool FakeCaptureWindow::AskSaveFileName(const SaveDialogRequest& request, std::string& chosenPath) {
    dialogRequests.push_back(request);
    if (dialogCancels)
        return false;
    chosenPath = dialogAnswer;
    return true;
}

bool FakeCaptureWindow::PutImageOnClipboard(const QImage& image, std::string& error) {
    ++clipboardCalls;
    if (!clipboardAccepts) {
        error = "the clipboard is held by another program";
        return false;
    }
    clipboardImage = image.copy();
    return true;
}

} // namespace quarvel::test
