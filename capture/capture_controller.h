#pragma once

#include "capture/capture_window.h"
#include "capture/file_naming.h"
#include "instr/instr_connection.h"
#include "wavedata/waveform_record.h"

#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

// The capture's save modes, by position in the form's "Save mode" list.
constexpr int SAVE_MODE_SEQUENTIAL = 0;
constexpr int SAVE_MODE_CLIPBOARD = 1;
constexpr int SAVE_MODE_INDIVIDUAL = 2;

// Turns the user's requests into instrument operations and output: connect
// and disconnect, the capture sequence with its countdown, Stop/Run/Single,
// Save As and Copy. Knows the window only through ICaptureWindow.
//
// An instrument that no driver recognises is not kept connected: after the
// warning the session is closed again, so no driver operation can ever be
// requested without a driver.
class CCaptureController {
public:
    explicit CCaptureController(ICaptureWindow& window);
    ~CCaptureController();
    CCaptureController(const CCaptureController&) = delete;
    CCaptureController& operator=(const CCaptureController&) = delete;

    // Requests of the form and the menu.
    void ToggleConnection();    // "Connect instrument" / "Disconnect"
    void StartOrAbortCapture(); // "Capture": now, after a countdown, or abort the countdown
    void OnCountdownTick();     // the window's 1000 ms timer
    void CaptureNow();
    void StopRequest();
    void RunRequest();
    void SingleRequest();
    void SaveCurrentImageAs();     // File > Save As
    bool CopyPictureToClipboard(); // Edit > Copy and the "Copy to clipboard" mode

    bool HasPicture() const { return !m_picture.isNull(); }
    const QImage& Picture() const { return m_picture; }
    bool IsConnected() const { return m_connection.IsConnected(); }
    bool HasDriver() const { return m_connection.GetDriver() != nullptr; }
    bool IsCountdownRunning() const { return m_countdownRunning; }
    // True from the start of a connect, capture or run-control request to
    // its end, including while the window processes events from inside it.
    bool IsRequestUnderWay() const { return m_requestUnderWay; }
    CInstrConnection& Connection() { return m_connection; }
    // How many numbers "Save sequential" tries (SEQUENTIAL_SEARCH_LIMIT
    // unless set), so that a full directory can be shown with a few files.
    void SetSequentialSearchLimit(std::uint32_t limit) { m_naming.searchLimit = limit; }

    // Outcome of the last CaptureNow: true when its output (file or
    // clipboard) was completed without an error.
    bool LastCaptureSucceeded() const { return m_lastCaptureSucceeded; }
    const std::string& LastImagePath() const { return m_imagePath; }
    const std::string& LastDataPath() const { return m_dataPath; }
    const WaveformRecordList& Waveforms() const { return m_waveforms; }

private:
    class RequestScope;
    static ViInt32 OnTransferProgress(ViSession session, ViUInt64 done, ViUInt64 expected,
                                      ViAddr controller);
    void EndCountdown();
    bool FetchAndDecode(bool screenshotOk, const ByteBuffer& stream);
    void RescalePicture();
    void OutputPicture();
    void SaveSequential();
    void SaveIndividually();
    void SaveImageThenData();
    void ReportBadPattern();

    // Image output (image_output.cpp).
    bool SaveImageAndComments();
    NamingResult ChooseIndividualNames(const std::string& dataExtension);
    SaveDialogRequest MakeSaveDialogRequest(const std::string& initialPath) const;

    ICaptureWindow& m_window;
    CInstrConnection m_connection;
    QImage m_picture;
    QImage m_scratchPicture;
    FileNaming m_naming;
    bool m_countdownRunning = false;
    bool m_retrieveWaveforms = false;
    std::uint32_t m_countdownRemaining = 0;
    std::string m_imageDirectory;
    WaveformRecordList m_waveforms;
    std::string m_captureMessage;
    std::string m_dataMessage;
    // Why the screenshot of the capture under way failed, in words.
    std::string m_screenshotFailure;
    // Why selected channels are missing from m_waveforms ("" when none is).
    std::string m_waveformProblems;
    std::string m_imagePath;
    std::string m_dataPath;
    std::string m_dataExtension;
    bool m_lastCaptureSucceeded = false;
    bool m_requestUnderWay = false;
    bool m_cancelRequested = false;
};
