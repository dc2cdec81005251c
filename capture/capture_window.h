#pragma once

#include "capture/data_format.h"
#include "capture/image_encoder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class QImage;

// What the capture controller needs of the control form. The desktop window
// implements it with widgets, quarvel-cli with plain values, tests with fakes.
// All texts are UTF-8.
class ICaptureForm {
public:
    virtual ~ICaptureForm() = default;

    // Values as the form last stored them from its controls.
    virtual std::string GetVisaAddress() const = 0;
    virtual std::string GetImageDir() const = 0;
    virtual std::string GetBaseName() const = 0;
    virtual std::string GetSequenceText() const = 0;
    virtual std::string GetCommentsFile() const = 0;
    virtual std::string GetComments() const = 0;
    virtual bool GetInvertedGraticule() const = 0;
    virtual bool GetStopWhileCapturing() const = 0;
    virtual bool GetSaveIdnInComments() const = 0;
    virtual std::uint32_t GetCaptureDelay() const = 0;

    // Read from the controls at the moment they are needed.
    virtual int GetSaveModeIndex() const = 0;     // 0, 1, 2; -1 when nothing is selected
    virtual DataFormat GetDataFormat() const = 0; // the dirfile when nothing is selected
    virtual bool IsRetrieveWaveformsChecked() const = 0;
    virtual int GetImageFormatIndex() const = 0;       // -1 when nothing is selected
    virtual std::string GetImageExtension() const = 0; // lower case, "png" when nothing is selected

    // The sequence number after a capture: number and its "%04u" text; the
    // form shows the new values.
    virtual void SetSequence(std::uint32_t number, const std::string& text) = 0;
    virtual void SetIdnText(const std::string& idn) = 0;
    virtual void SetConnected(bool connected) = 0;
    virtual void AddDirToHistory(const std::string& directory) = 0;
    virtual void ClearOfferedChannels() = 0;
    virtual void AddOfferedChannel(const std::string& name) = 0;
    virtual void StashComments() = 0;
    virtual void SnapshotSelectedChannels() = 0;
    virtual std::vector<std::string> CopySelectedChannels() const = 0;
    // "Abort" while a countdown runs, "Capture screenshot" when it ends.
    virtual void SetCaptureButtonCaption(const std::string& caption) = 0;
};

enum class MessageIcon { None, Error, Warning };

// The length of a transfer that has not announced it.
constexpr std::uint64_t kTransferSizeUnknown = ~std::uint64_t{0};

// The save-file dialog's set-up.
struct SaveDialogRequest {
    std::string defaultExtension;       // without dot, e.g. "png"
    std::string initialPath;            // full path, may be empty
    std::vector<ImageEncoder> encoders; // one dialog filter each, in this order
    int initialFilterIndex = 1;         // 1-based
};

// The main window as the capture controller sees it.
class ICaptureWindow {
public:
    virtual ~ICaptureWindow() = default;

    virtual ICaptureForm& Form() = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // Modal message box captioned "Quarvel".
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    // Modal save-file dialog that asks before overwriting. False when cancelled.
    virtual bool AskSaveFileName(const SaveDialogRequest& request, std::string& chosenPath) = 0;
    // False when the clipboard refuses the image; `error` then says why.
    virtual bool PutImageOnClipboard(const QImage& image, std::string& error) = 0;
    // Show `picture` (nullptr: nothing) and repaint the picture pane.
    virtual void ShowPicture(const QImage* picture) = 0;
    // A periodic 1000 ms timer that calls CCaptureController::OnCountdownTick.
    virtual void StartCountdownTimer() = 0;
    virtual void StopCountdownTimer() = 0;

    // An instrument request (connect, capture, Stop/Run/Single) begins and
    // ends. All instrument I/O happens on the caller's thread inside the
    // request, one call at a time; in between, TransferProgress is called
    // from inside each transfer at least every 50 ms, also while the
    // instrument has not answered yet, with the bytes done and expected
    // (kTransferSizeUnknown when not known). There the window keeps painting
    // and may take the user's Cancel, but must start no other request; true
    // cancels the transfer, after which the request skips its remaining steps.
    // A window without progress display keeps these defaults.
    virtual void RequestStarted() {}
    virtual bool TransferProgress(std::uint64_t /*done*/, std::uint64_t /*expected*/) {
        return false;
    }
    // Between the steps of a request that are no transfer (decoding the
    // picture, encoding and saving it), so that the window paints and runs
    // its timers there too. The user's input waits until the request ends.
    virtual void KeepPainting() {}
    virtual void RequestEnded() {}
    // The data of `channel` is read next, the `number`th (from 1) of `count`
    // channels of the capture; its transfers' reports follow. A window shows
    // which channel its progress belongs to; it is told again for the next
    // channel, and the request's end ends it.
    virtual void WaveformChannelStarted(const std::string& /*channel*/, std::size_t /*number*/,
                                        std::size_t /*count*/) {}
};
