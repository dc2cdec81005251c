// The timed capture: the Capture button's countdown, driven by the window's
// 1000 ms timer.
#include "capture/capture_controller.h"

#include <string>

namespace {

std::string RemainingText(std::uint32_t seconds) {
    return "Capture delay, " + std::to_string(seconds) + " seconds remaining";
}

} // namespace

void CCaptureController::StartOrAbortCapture() {
    // Nothing to capture from: no session, or one without a driver (after a
    // failed identification).
    if (!m_connection.IsConnected() || m_connection.GetDriver() == nullptr)
        return;
    ICaptureForm& form = m_window.Form();
    // The channels ticked now are the ones this capture reads.
    form.SnapshotSelectedChannels();

    if (m_countdownRunning) {
        m_window.StopCountdownTimer();
        m_window.SetStatusText("Timed capture aborted.");
        form.SetCaptureButtonCaption("Capture screenshot");
        m_countdownRunning = false;
        return;
    }
    m_countdownRemaining = form.GetCaptureDelay();
    if (m_countdownRemaining == 0) {
        CaptureNow();
        return;
    }
    m_window.StartCountdownTimer();
    m_window.SetStatusText(RemainingText(m_countdownRemaining));
    --m_countdownRemaining;
    form.SetCaptureButtonCaption("Abort");
    m_countdownRunning = true;
}

void CCaptureController::OnCountdownTick() {
    // A tick after the countdown ended (a queued timer event) does nothing.
    if (!m_countdownRunning)
        return;
    if (m_countdownRemaining > 0) {
        m_window.SetStatusText(RemainingText(m_countdownRemaining));
        --m_countdownRemaining;
        return;
    }
    // A capture never starts inside another request (a Stop whose transfer is
    // still under way when the tick arrives): it starts at the next tick.
    if (m_requestUnderWay)
        return;
    m_window.StopCountdownTimer();
    m_window.Form().SetCaptureButtonCaption("Capture screenshot");
    CaptureNow();
    m_countdownRunning = false;
}

void CCaptureController::EndCountdown() {
    if (!m_countdownRunning)
        return;
    m_window.StopCountdownTimer();
    m_window.Form().SetCaptureButtonCaption("Capture screenshot");
    m_countdownRunning = false;
    m_countdownRemaining = 0;
}
