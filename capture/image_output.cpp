// Image output: saving the picture with its comments entry, the file dialog's
// names, Save As and the clipboard.
#include "capture/image_output.h"

#include "capture/capture_controller.h"
#include "capture/comments_file.h"
#include "capture/image_codec.h"
#include "capture/paths.h"

std::string ChosenExtension(const std::string& path) {
    const std::string name = qpaths::FileNameOf(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

SaveDialogRequest CCaptureController::MakeSaveDialogRequest(const std::string& initialPath) const {
    ICaptureForm& form = m_window.Form();
    SaveDialogRequest request;
    request.defaultExtension = form.GetImageExtension();
    request.initialPath = initialPath;
    request.encoders = AvailableEncoders();
    request.initialFilterIndex = form.GetImageFormatIndex() + 1;
    return request;
}

bool CCaptureController::SaveImageAndComments() {
    ICaptureForm& form = m_window.Form();
    if (SaveByExtension(m_picture, m_imagePath) != CodecStatus::Ok) {
        m_window.ShowMessage("Saving failed", MessageIcon::Error);
        m_captureMessage = "Error: Saving failed.";
        return false;
    }
    const std::string comments = form.GetComments();
    if (!comments.empty()) {
        CommentsEntry entry;
        entry.fileName = qpaths::FileNameOf(m_imagePath);
        if (m_retrieveWaveforms)
            entry.dataFileName = qpaths::FileNameOf(m_dataPath);
        entry.comments = comments;
        if (form.GetSaveIdnInComments())
            entry.instrumentId = m_connection.GetIdn();
        AppendCommentsEntry(CommentsFilePath(m_naming), entry);
    }
    form.AddDirToHistory(m_imageDirectory);
    m_captureMessage = "Screenshot saved successfully to " + m_imagePath + ".";
    form.StashComments();
    return true;
}

NamingResult CCaptureController::ChooseIndividualNames(const std::string& dataExtension) {
    std::string initialPath;
    if (!BuildOutputPath("", m_naming, false, initialPath))
        return NAMES_BAD_PATTERN;
    std::string chosen;
    if (!m_window.AskSaveFileName(MakeSaveDialogRequest(initialPath), chosen))
        return NAMES_CANCELLED;
    // The chosen name is treated like a pattern: time specifiers expanded,
    // extensions removed, the chosen extension added again.
    FileNaming record = SplitChosenPath(chosen);
    std::string imagePath;
    std::string dataPath;
    if (!BuildOutputPath(ChosenExtension(chosen), record, false, imagePath) ||
        !BuildOutputPath(dataExtension, record, false, dataPath))
        return NAMES_BAD_PATTERN;
    m_imagePath = imagePath;
    m_dataPath = dataPath;
    return NAMES_OK;
}

void CCaptureController::SaveCurrentImageAs() {
    if (m_picture.isNull())
        return;
    ICaptureForm& form = m_window.Form();
    std::string initialPath;
    if (!BuildOutputPath("", m_naming, false, initialPath)) {
        m_window.ShowMessage("Invalid date formatting specifiers in filename", MessageIcon::Error);
        return;
    }
    std::string chosen;
    if (!m_window.AskSaveFileName(MakeSaveDialogRequest(initialPath), chosen)) {
        m_captureMessage = "Screenshot saving cancelled by user.";
    } else {
        // The chosen path is kept exactly as it stands, "%" included.
        FileNaming record = SplitChosenPath(chosen);
        record.commentsFile = form.GetCommentsFile();
        if (SaveByExtension(m_picture, chosen) != CodecStatus::Ok) {
            m_window.ShowMessage("Saving screenshot failed", MessageIcon::Error);
            m_captureMessage = "Error: Saving screenshot failed.";
        } else {
            CommentsEntry entry;
            entry.fileName = record.fileName;
            entry.comments = form.GetComments();
            if (form.GetSaveIdnInComments())
                entry.instrumentId = m_connection.GetIdn();
            AppendCommentsEntry(CommentsFilePath(record), entry);
            m_captureMessage = "Screenshot saved successfully to " + chosen + ".";
            form.AddDirToHistory(record.directory);
            form.StashComments();
        }
    }
    m_window.SetStatusText(m_captureMessage);
}

bool CCaptureController::CopyPictureToClipboard() {
    if (m_picture.isNull())
        return false;
    std::string error;
    if (m_window.PutImageOnClipboard(m_picture, error))
        return true;
    m_window.ShowMessage("Copying to the clipboard failed: " + error, MessageIcon::None);
    return false;
}
