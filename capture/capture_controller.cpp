#include "capture/capture_controller.h"

#include "capture/image_codec.h"
#include "capture/waveform_capture.h"
#include "instr/failure.h"

#include <cstdio>

namespace {

// Largest picture a rescale may produce; anything larger comes from a driver
// fault, not from an instrument screen.
constexpr std::int32_t MAX_RESCALED_SIDE = 16384;

std::string FormatHex8(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(value));
    return buffer;
}

static_assert(kTransferSizeUnknown == QVI_SIZE_UNKNOWN);

} // namespace

// One request of the user: the window shows it under way and offers Cancel
// until it ends.
class CCaptureController::RequestScope {
public:
    explicit RequestScope(CCaptureController& controller) : m_controller(controller) {
        m_controller.m_requestUnderWay = true;
        m_controller.m_cancelRequested = false;
        m_controller.m_window.RequestStarted();
    }
    ~RequestScope() {
        m_controller.m_requestUnderWay = false;
        m_controller.m_window.RequestEnded();
    }
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;

private:
    CCaptureController& m_controller;
};

CCaptureController::CCaptureController(ICaptureWindow& window) : m_window(window) {}

ViInt32 CCaptureController::OnTransferProgress(ViSession /*session*/, ViUInt64 done,
                                               ViUInt64 expected, ViAddr controller) {
    auto& self = *static_cast<CCaptureController*>(controller);
    // Transfers outside a request (closing the session) are not shown.
    if (!self.m_requestUnderWay)
        return QVI_PROGRESS_CONTINUE;
    if (!self.m_window.TransferProgress(done, expected))
        return QVI_PROGRESS_CONTINUE;
    self.m_cancelRequested = true;
    return QVI_PROGRESS_CANCEL;
}

CCaptureController::~CCaptureController() = default;

void CCaptureController::ToggleConnection() {
    ICaptureForm& form = m_window.Form();
    form.AddDirToHistory(form.GetImageDir());

    RequestScope request(*this);
    if (m_connection.IsConnected()) {
        EndCountdown();
        m_connection.Disconnect();
        form.SetConnected(false);
        m_window.SetStatusText("Instrument disconnected");
        return;
    }
    if (!m_connection.Open(form.GetVisaAddress())) {
        // What the VISA layer knows (a library that answered, no library
        // named for a GPIB address, one that could not be loaded) goes below,
        // or else the status in words.
        std::string why = m_connection.OpenFailureText();
        if (why.empty())
            why = quarvel::instr::DescribeFailure(
                quarvel::instr::OpenFailure(m_connection.OpenStatus()));
        m_window.ShowMessage(why.empty() ? "Connect failed!" : "Connect failed!\n" + why,
                             MessageIcon::Error);
        m_window.SetStatusText(why.empty() ? "Connect failed" : "Connect failed: " + why);
        return;
    }
    // Every transfer of this session reports to the window from now on.
    qviSetProgressHandler(m_connection.GetSession(), &CCaptureController::OnTransferProgress, this);
    if (!m_connection.QueryIdn()) {
        if (m_cancelRequested) {
            m_connection.Disconnect();
            m_window.SetStatusText("Connect cancelled");
            return;
        }
        // The session stays open without a driver; the next request closes it.
        const std::string why = quarvel::instr::DescribeFailure(quarvel::instr::LastSessionFailure(
            m_connection.GetSession(), "waiting for the identification"));
        m_window.ShowMessage(why.empty() ? "*IDN? query failed."
                                         : "*IDN? query failed: " + why + ".",
                             MessageIcon::Error);
        return;
    }
    const std::string idn = m_connection.GetIdn();
    if (!m_connection.CreateDriver() || m_connection.GetDriver() == nullptr) {
        m_window.ShowMessage(UnknownInstrumentText(idn), MessageIcon::Warning);
        m_connection.Disconnect();
        m_window.SetStatusText("Connect failed: unknown instrument \"" + idn + "\"");
        return;
    }

    form.ClearOfferedChannels();
    ChannelList channels;
    m_connection.GetDriver()->GetChannelList(channels);
    for (const auto& name : channels)
        form.AddOfferedChannel(name);
    form.SetIdnText(idn);
    form.SetConnected(true);
    m_window.SetStatusText("Instrument connected");
}

void CCaptureController::StopRequest() {
    RequestScope request(*this);
    if (CInstrLL* driver = m_connection.GetDriver())
        driver->StopInstrument();
}

void CCaptureController::RunRequest() {
    RequestScope request(*this);
    if (CInstrLL* driver = m_connection.GetDriver())
        driver->RunInstrument(true, false);
}

void CCaptureController::SingleRequest() {
    RequestScope request(*this);
    if (CInstrLL* driver = m_connection.GetDriver())
        driver->RunInstrument(true, true);
}

void CCaptureController::CaptureNow() {
    CInstrLL* driver = m_connection.GetDriver();
    if (driver == nullptr)
        return;
    ICaptureForm& form = m_window.Form();
    m_lastCaptureSucceeded = false;
    RequestScope request(*this);

    m_dataMessage.clear();
    m_captureMessage.clear();
    ByteBuffer stream;

    m_imageDirectory = form.GetImageDir();
    form.AddDirToHistory(m_imageDirectory);
    m_naming.directory = m_imageDirectory;
    m_naming.namePattern = form.GetBaseName();
    m_naming.sequenceNumber = ParseSequenceText(form.GetSequenceText());
    m_naming.commentsFile = form.GetCommentsFile();

    driver->SetInkSaver(form.GetInvertedGraticule());
    bool wasRunning = false;
    if (form.GetStopWhileCapturing())
        wasRunning = driver->StopInstrument();

    bool screenshotOk = false;
    if (!m_cancelRequested) {
        m_window.SetStatusText("Getting screenshot...");
        driver->ClearFailure();
        screenshotOk = driver->GetScreenshot(stream);
        m_screenshotFailure =
            screenshotOk ? std::string() : quarvel::instr::DescribeFailure(driver->LastFailure());
    }

    m_retrieveWaveforms = false;
    m_waveformProblems.clear();
    if (form.IsRetrieveWaveformsChecked() && !m_cancelRequested) {
        m_retrieveWaveforms = true;
        m_dataExtension = DataExtensionFor(form.GetDataFormat());
        m_waveformProblems = CaptureWaveforms(
            *driver, form.CopySelectedChannels(), m_waveforms,
            [this](const std::string& text) { m_window.SetStatusText(text); },
            [this] { return m_cancelRequested; },
            [this](const std::string& channel, std::size_t number, std::size_t count) {
                m_window.WaveformChannelStarted(channel, number, count);
            });
    }

    // Restarted only when stopped above, and only after the data was read;
    // after a cancel too, as after a failure.
    driver->RunInstrument(wasRunning, false);

    if (m_cancelRequested) {
        // Nothing of a cancelled capture is kept: no file, no comments entry,
        // no partial data; the picture on screen stays the previous one.
        m_waveforms.clear();
        m_window.SetStatusText("Capture cancelled.");
        return;
    }

    // Decoding, and encoding and saving below, take a while for a large
    // picture; the window paints before each.
    m_window.KeepPainting();
    if (FetchAndDecode(screenshotOk, stream)) {
        m_window.KeepPainting();
        OutputPicture();
    }

    m_window.SetStatusText("Data capture finished. " + m_captureMessage + " " + m_dataMessage);
    form.SetSequence(m_naming.sequenceNumber, FormatSequenceNumber(m_naming.sequenceNumber));
}

bool CCaptureController::FetchAndDecode(bool screenshotOk, const ByteBuffer& stream) {
    if (!screenshotOk) {
        // The previous picture stays on screen.
        m_captureMessage = m_screenshotFailure.empty()
                               ? "Error: Screenshot capture failed."
                               : "Error: Screenshot capture failed: " + m_screenshotFailure + ".";
        return false;
    }
    m_scratchPicture = QImage();
    m_picture = QImage();
    const CodecStatus status = LoadFromMemory(stream.data(), stream.size(), m_picture);
    if (status != CodecStatus::Ok) {
        m_picture = QImage();
        m_window.ShowPicture(nullptr);
        m_captureMessage = "Error: Screenshot image load error " +
                           FormatHex8(static_cast<std::uint32_t>(status)) + ".";
        return false;
    }
    if (m_connection.GetDriver()->NeedsScreenshotResize())
        RescalePicture();
    m_window.ShowPicture(&m_picture);
    return true;
}

void CCaptureController::RescalePicture() {
    const ScreenshotResize r = m_connection.GetDriver()->GetScreenshotResize();
    if (r.outWidth <= 0 || r.outHeight <= 0 || r.outWidth > MAX_RESCALED_SIDE ||
        r.outHeight > MAX_RESCALED_SIDE || r.srcWidth <= 0 || r.srcHeight <= 0)
        return;
    m_scratchPicture = CreateBlank(r.outWidth, r.outHeight, m_picture);
    DrawScaled(m_picture, r.srcX, r.srcY, r.srcWidth, r.srcHeight, m_scratchPicture);
    m_picture = CreateBlank(r.outWidth, r.outHeight, m_scratchPicture);
    BlitAt(m_scratchPicture, m_picture);
}

void CCaptureController::OutputPicture() {
    switch (m_window.Form().GetSaveModeIndex()) {
    case SAVE_MODE_SEQUENTIAL:
        SaveSequential();
        break;
    case SAVE_MODE_CLIPBOARD:
        m_lastCaptureSucceeded = CopyPictureToClipboard();
        m_captureMessage = m_lastCaptureSucceeded
                               ? "Screen capture successfully copied to clipboard."
                               : "Clipboard copy failed.";
        break;
    case SAVE_MODE_INDIVIDUAL:
        SaveIndividually();
        break;
    default:
        m_lastCaptureSucceeded = true;
        break;
    }
}

void CCaptureController::ReportBadPattern() {
    m_window.ShowMessage("Invalid date formatting specifiers in filename", MessageIcon::Error);
    m_captureMessage = "Error: Screenshot capture failed.";
}

void CCaptureController::SaveSequential() {
    const std::string imageExtension = m_window.Form().GetImageExtension();
    switch (FindSequentialNames(m_naming, imageExtension, m_dataExtension, m_retrieveWaveforms,
                                m_imagePath, m_dataPath)) {
    case NAMES_OK:
        SaveImageThenData();
        break;
    case NAMES_BAD_PATTERN:
        ReportBadPattern();
        break;
    case NAMES_EXHAUSTED:
    default:
        // Every number is taken: nothing is written, nothing overwritten.
        m_imagePath.clear();
        m_dataPath.clear();
        m_window.ShowMessage("No free file name: every sequence number of this file name is "
                             "already taken in the image directory. Nothing was saved.",
                             MessageIcon::Error);
        m_captureMessage = "Error: No free sequence number for the file name; nothing saved.";
        break;
    }
}

void CCaptureController::SaveIndividually() {
    switch (ChooseIndividualNames(m_dataExtension)) {
    case NAMES_OK:
        SaveImageThenData();
        break;
    case NAMES_CANCELLED:
        m_captureMessage = "Screenshot saving cancelled by user.";
        break;
    default:
        ReportBadPattern();
        break;
    }
}

void CCaptureController::SaveImageThenData() {
    bool ok = SaveImageAndComments();
    if (m_retrieveWaveforms) {
        const bool dataOk = SaveWaveforms(
            m_waveforms, m_window.Form().GetDataFormat(), m_dataPath,
            [this](const std::string& text) { m_window.SetStatusText(text); },
            [this] { m_window.KeepPainting(); });
        m_dataMessage =
            dataOk ? "Waveform data saving done." : "Error: Waveform data saving failed.";
        if (!m_waveformProblems.empty()) {
            m_dataMessage += " " + m_waveformProblems;
        }
        // Channels were asked for and none was written: no success, even
        // though nothing failed to save.
        ok = ok && dataOk && !(m_waveforms.empty() && !m_waveformProblems.empty());
    }
    m_lastCaptureSucceeded = ok;
}
