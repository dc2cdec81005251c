#include "tests/capture/fake_capture_window.h"

namespace quarvel::test {

void FakeCaptureForm::StashComments() {
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
