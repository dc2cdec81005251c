#pragma once

#include "capture/capture_window.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarvel::test {

// A form whose values tests set directly and whose calls it records.
class FakeCaptureForm : public ICaptureForm {
public:
    // Values the controller reads; public so tests can set them.
    std::string visaAddress;
    std::string imageDir;
    std::string baseName = "Screenshot";
    std::string sequenceText = "0001";
    std::string commentsFile = "Comments.txt";
    std::string comments;
    bool invertedGraticule = false;
    bool stopWhileCapturing = false;
    bool saveIdnInComments = false;
    std::uint32_t captureDelay = 0;
    int saveModeIndex = 0;
    DataFormat dataFormat = DataFormat::Dirfile;
    bool retrieveWaveforms = false;
    int imageFormatIndex = -1;
    std::string imageExtension = "png";
    std::vector<std::string> tickedChannels; // the check marks "now"

    // What the controller did to the form.
    bool connected = false;
    std::vector<std::string> dirHistory;       // newest first
    std::vector<std::string> selectedChannels; // the snapshot
    std::string lastComments;
    std::string captureButtonCaption = "Capture";

    std::string GetVisaAddress() const override { return visaAddress; }
    std::string GetImageDir() const override { return imageDir; }
    std::string GetBaseName() const override { return baseName; }
    std::string GetSequenceText() const override { return sequenceText; }
    std::string GetCommentsFile() const override { return commentsFile; }
    std::string GetComments() const override { return comments; }
    bool GetInvertedGraticule() const override { return invertedGraticule; }
    bool GetStopWhileCapturing() const override { return stopWhileCapturing; }
    bool GetSaveIdnInComments() const override { return saveIdnInComments; }
    std::uint32_t GetCaptureDelay() const override { return captureDelay; }
    int GetSaveModeIndex() const override { return saveModeIndex; }
    DataFormat GetDataFormat() const override { return dataFormat; }
    bool IsRetrieveWaveformsChecked() const override { return retrieveWaveforms; }
    int GetImageFormatIndex() const override { return imageFormatIndex; }
    std::string GetImageExtension() const override { return imageExtension; }

    void SetSequence(std::uint32_t, const std::string& text) override { sequenceText = text; }
    void SetIdnText(const std::string&) override {}
    void SetConnected(bool isConnected) override { connected = isConnected; }
    void AddDirToHistory(const std::string& dir) override {
        dirHistory.insert(dirHistory.begin(), dir);
    }
    void ClearOfferedChannels() override {}
    void AddOfferedChannel(const std::string&) override {}
    void StashComments() override;
    void SnapshotSelectedChannels() override { selectedChannels = tickedChannels; }
    std::vector<std::string> CopySelectedChannels() const override { return selectedChannels; }
    void SetCaptureButtonCaption(const std::string& caption) override {
        captureButtonCaption = caption;
    }
};

struct ShownMessage {
    std::string text;
    MessageIcon icon;
};

// A main window that records everything and answers the file dialog and the
// clipboard as the test says.
class FakeCaptureWindow : public ICaptureWindow {
public:
    FakeCaptureForm form;

    std::vector<std::string> statusTexts;
    std::vector<ShownMessage> messages;

    // File dialog: the answer to give (cancel when `dialogCancels`), and the
    // requests it was shown with.
    bool dialogCancels = false;
    std::string dialogAnswer;
    std::vector<SaveDialogRequest> dialogRequests;

    // Clipboard: whether it accepts, and what it holds.
    bool clipboardAccepts = true;
    QImage clipboardImage;
    int clipboardCalls = 0;

    // Picture view: what it points at and how often it was told.
    const QImage* shownPicture = nullptr;
    int showPictureCalls = 0;

    bool timerRunning = false;

    // Answers each report of a transfer (true: cancel it); none goes on.
    std::function<bool(std::uint64_t done, std::uint64_t expected)> onTransfer;

    ICaptureForm& Form() override { return form; }
    void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        messages.push_back({text, icon});
    }
    bool AskSaveFileName(const SaveDialogRequest& request, std::string& chosenPath) override;
    bool PutImageOnClipboard(const QImage& image, std::string& error) override;
    void ShowPicture(const QImage* picture) override {
        shownPicture = picture;
        ++showPictureCalls;
    }
    void StartCountdownTimer() override { timerRunning = true; }
    void StopCountdownTimer() override { timerRunning = false; }
    bool TransferProgress(std::uint64_t done, std::uint64_t expected) override {
        return onTransfer && onTransfer(done, expected);
    }

    std::string LastStatus() const { return statusTexts.empty() ? "" : statusTexts.back(); }
};

} // namespace quarvel::test
