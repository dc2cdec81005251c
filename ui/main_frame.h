#pragma once

#include "capture/capture_controller.h"
#include "capture/capture_window.h"
#include "ui/settings_store.h"

#include <QMainWindow>
#include <QTimer>

#include <string>

class CIoLogPane;
class CPicView;
class CUIForm;
class QAction;
class QProgressBar;
class QPushButton;
class QSplitter;
class QToolBar;

// The main window: the control form and the picture pane side by side in a
// splitter, the menu, the status bar and the countdown timer. It owns the
// capture controller and is the window the controller talks to; every
// request of the form and the menu is a direct call into the controller.
class CMainFrame : public QMainWindow, public ICaptureWindow {
    Q_OBJECT

public:
    // Builds the panes (the form reads its options), the status bar, restores
    // the stored placement and completes the form's set-up.
    explicit CMainFrame(QWidget* parent = nullptr);
    // Pane sizes and placement are saved on close; here the panes go first
    // (the form saves its options), the controller and its connection last.
    ~CMainFrame() override;

    CUIForm& ControlForm() { return *m_form; }
    CPicView& PictureView() { return *m_pictureView; }
    CIoLogPane& IoLogPane() { return *m_ioLogPane; }
    CCaptureController& Controller() { return m_controller; }

    // Re-evaluates which menu commands are enabled.
    void UpdateCommandStates();
    bool IsFormActivePane() const { return m_formActive; }

    // ICaptureWindow
    ICaptureForm& Form() override;
    void SetStatusText(const std::string& text) override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskSaveFileName(const SaveDialogRequest& request, std::string& chosenPath) override;
    bool PutImageOnClipboard(const QImage& image, std::string& error) override;
    void ShowPicture(const QImage* picture) override;
    void StartCountdownTimer() override;
    void StopCountdownTimer() override;
    void RequestStarted() override;
    bool TransferProgress(std::uint64_t done, std::uint64_t expected) override;
    void KeepPainting() override;
    void RequestEnded() override;
    void WaveformChannelStarted(const std::string& channel, std::size_t number,
                                std::size_t count) override;

    QAction* SaveAsAction() const { return m_saveAsAction; }
    QAction* CopyAction() const { return m_copyAction; }
    QAction* UndoAction() const { return m_undoAction; }
    QAction* CutAction() const { return m_cutAction; }
    QAction* PasteAction() const { return m_pasteAction; }
    QAction* CaptureAction() const { return m_captureAction; }
    QAction* StopAction() const { return m_stopAction; }
    QAction* RunAction() const { return m_runAction; }
    QAction* SingleAction() const { return m_singleAction; }
    QAction* StatusBarAction() const { return m_statusBarAction; }
    QAction* AboutAction() const { return m_aboutAction; }
    QProgressBar* TransferBar() const { return m_transferBar; }
    QPushButton* CancelButton() const { return m_cancelButton; }
    QToolBar* InstrumentToolBar() const { return m_toolBar; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateClient(const PaneSizes& sizes);
    void CreateMenus();
    // Capture, Stop, Run and Single as buttons: the menu's own commands.
    void CreateToolBar();
    // Without stored sizes: the whole form and a picture of a useful size,
    // within the screen.
    PaneSizes FirstPaneSizes() const;
    void ConnectRequests();
    void SavePlacement();
    void SetFormActive(bool active);
    enum class Pane { None, Form, Picture };
    // Which pane, if any, holds `widget`.
    Pane PaneOf(const QObject* widget) const;
    void ShowAbout();
    void CreateTransferIndicator();
    // Passes resources to the VISA library the environment or the settings name.
    void UseVisaLibrary();
    // While the window processes events from inside a transfer, user input
    // reaches only the Cancel button and the menus (whose request commands
    // are disabled then); Escape cancels. True when `event` is dropped.
    bool FilterInputDuringTransfer(QObject* watched, QEvent* event);

    CSettingsStore m_store;
    CCaptureController m_controller;
    QTimer m_countdownTimer;
    QSplitter* m_splitter = nullptr;
    CUIForm* m_form = nullptr;
    CPicView* m_pictureView = nullptr;
    CIoLogPane* m_ioLogPane = nullptr;
    bool m_formActive = false; // no pane is active at start
    bool m_placementSaved = false;
    QProgressBar* m_transferBar = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QToolBar* m_toolBar = nullptr;
    bool m_requestUnderWay = false;
    bool m_inTransfer = false;
    bool m_cancelRequested = false;

    QAction* m_saveAsAction = nullptr;
    QAction* m_exitAction = nullptr;
    QAction* m_undoAction = nullptr;
    QAction* m_cutAction = nullptr;
    QAction* m_copyAction = nullptr;
    QAction* m_pasteAction = nullptr;
    QAction* m_statusBarAction = nullptr;
    QAction* m_captureAction = nullptr;
    QAction* m_stopAction = nullptr;
    QAction* m_runAction = nullptr;
    QAction* m_singleAction = nullptr;
    QAction* m_aboutAction = nullptr;
};
