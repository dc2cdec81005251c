#pragma once

#include "capture/capture_window.h"
#include "instr/instr_connection.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <string>

// Turns the user's requests into instrument operations and output: connect
// and disconnect, the capture sequence with its countdown, Stop/Run/Single,
// Save As and Copy. Knows the window only through ICaptureWindow.
class CCaptureController {
public:
    explicit CCaptureController(ICaptureWindow& window);
    ~CCaptureController();
    CCaptureController(const CCaptureController&) = delete;
    CCaptureController& operator=(const CCaptureController&) = delete;

    // Requests of the form and the menu.
    void ToggleConnection();   // "Connect instrument" / "Disconnect"
    void StartOrAbortCapture(); // "Capture": now, after a countdown, or abort the countdown
    void OnCountdownTick();     // the window's 1000 ms timer
    void CaptureNow();
    void StopRequest();
    void RunRequest();
    void SingleRequest();
    void SaveCurrentImageAs();      // File > Save As
    bool CopyPictureToClipboard();  // Edit > Copy and the "Copy to clipboard" mode

    bool HasPicture() const { return !m_picture.isNull(); }
    const QImage& Picture() const { return m_picture; }
    bool IsConnected() const { return m_connection.IsConnected(); }
    bool HasDriver() const { return m_connection.GetDriver() != nullptr; }
    bool IsCountdownRunning() const { return m_countdownRunning; }
    CInstrConnection& Connection() { return m_connection; }

private:
    ICaptureWindow& m_window;
    CInstrConnection m_connection;
    QImage m_picture;
    QImage m_scratchPicture;
    bool m_countdownRunning = false;
    std::uint32_t m_countdownRemaining = 0;
    // The capture implementation adds its naming state, messages, paths and
    // waveform records here.
};
