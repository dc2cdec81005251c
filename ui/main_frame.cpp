#include "ui/main_frame.h"

#include "capture/image_codec.h"
#include "quarvel/version.h"
#include "ui/about_dialog.h"
#include "ui/io_log_pane.h"
#include "ui/pic_view.h"
#include "ui/ui_form.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>

#include <algorithm>
#include <utility>

namespace {

const QString kCaption = QStringLiteral("Quarvel");
const QString kIdleMessage = QStringLiteral("Ready");
constexpr int kMinimumWidth = 960;
constexpr int kMinimumHeight = 480;
constexpr int kCountdownPeriodMs = 1000;
// The progress bar counts in thousandths of the transfer.
constexpr int kTransferBarSteps = 1000;
// The bar's text outside a data capture (which names the channel).
const QString kTransferBarFormat = QStringLiteral("%p%");
// The first window leaves room for what the window manager adds (title bar,
// borders), which is unknown until the window is shown.
constexpr int kDecorationHeight = 48;
constexpr int kDecorationWidth = 16;
// Instruments' screens are about 5:3 (800 × 480); the first picture pane
// has that shape where the screen allows.
constexpr int kPictureAspectWidth = 5;
constexpr int kPictureAspectHeight = 3;
// F5 is "fetch again" on the desktop (reload, refresh); no text box takes it.
constexpr QKeyCombination kCaptureKey = Qt::Key_F5;

// Menu prompts carry a short name after "\n"; the status line shows the
// part before it.
QString PromptText(const QString& prompt) {
    return prompt.section(QLatin1Char('\n'), 0, 0);
}

QAction* AddCommand(QMenu* menu, const QString& text, const QString& prompt,
                    const QString& objectName) {
    QAction* action = menu->addAction(text);
    action->setObjectName(objectName);
    action->setStatusTip(PromptText(prompt));
    return action;
}

// One "jpeg (*.jpeg *.jpg)" entry per encoder: the dialog names formats in
// lower case, as the extensions it appends are.
QStringList ToNameFilters(const std::vector<ImageEncoder>& encoders) {
    QStringList nameFilters;
    for (const ImageEncoder& encoder : encoders) {
        QStringList patterns;
        for (const std::string& extension : encoder.extensions)
            patterns.append(QStringLiteral("*.") + QString::fromStdString(extension));
        nameFilters.append(QString::fromStdString(encoder.shortName).toLower() +
                           QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                           QLatin1Char(')'));
    }
    return nameFilters;
}

bool IsShortcutKey(const QKeyEvent* keyEvent, const QKeySequence& sequence) {
    return QKeySequence(keyEvent->keyCombination()) == sequence;
}

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

void CMainFrame::UseVisaLibrary() {
    const VisaLibraryChoice library = VisaLibraryInUse(m_store);
    if (library.path.empty())
        return;
    // A library that cannot be loaded is reported here and again by the
    // connect that needs it.
    CInstrConnection& connection = m_controller.Connection();
    if (!connection.UseVisaLibrary(library))
        statusBar()->showMessage(QString::fromStdString(connection.LibraryError()));
}

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), m_controller(*this) {
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(QStringLiteral("Quarvel v") + QString::fromLatin1(quarvel::kVersion));
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    PaneSizes sizes = LoadPaneSizes(m_store);
    CreateClient(sizes);
    CreateMenus();
    CreateToolBar();
    ConnectRequests();

    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->showMessage(kIdleMessage);
    UseVisaLibrary();
    CreateTransferIndicator();

    if (!sizes.stored) {
        sizes = FirstPaneSizes();
        m_splitter->setSizes({sizes.uiWidth, sizes.picWidth});
    }
    resize(sizes.uiWidth + m_splitter->handleWidth() + sizes.picWidth,
           sizes.splitterHeight + menuBar()->sizeHint().height() + m_toolBar->sizeHint().height() +
               statusBar()->sizeHint().height());
    // An unreadable placement is ignored: the window keeps the size above.
    const QByteArray placement = LoadWindowPlacement(m_store);
    if (!placement.isEmpty())
        restoreGeometry(placement);

    m_form->InitialUpdate();

    m_countdownTimer.setInterval(kCountdownPeriodMs);
    connect(&m_countdownTimer, &QTimer::timeout, this, [this] { m_controller.OnCountdownTick(); });

    // Which pane is active follows every click and focus change, and Ctrl+C /
    // Ctrl+S must reach the picture commands before a text box takes them.
    qApp->installEventFilter(this);
    UpdateCommandStates();
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    m_countdownTimer.stop();
    SavePlacement();
    // The panes go first, so the form writes its options while the store and
    // the connection still exist; the controller (and with it the
    // connection) is released after this body.
    m_form = nullptr;
    m_pictureView = nullptr;
    std::unique_ptr<QWidget> client(takeCentralWidget());
    m_splitter = nullptr;
    client.reset();
    m_store.Sync();
}

void CMainFrame::CreateTransferIndicator() {
    m_transferBar = new QProgressBar(statusBar());
    m_transferBar->setObjectName(QStringLiteral("transferProgress"));
    m_transferBar->setMaximumWidth(200);
    m_transferBar->hide();
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), statusBar());
    m_cancelButton->setObjectName(QStringLiteral("cancelTransferButton"));
    m_cancelButton->setToolTip(QStringLiteral("Stop the transfer under way (Esc)"));
    m_cancelButton->setFocusPolicy(Qt::NoFocus);
    m_cancelButton->hide();
    statusBar()->addPermanentWidget(m_transferBar);
    statusBar()->addPermanentWidget(m_cancelButton);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { m_cancelRequested = true; });
}

void CMainFrame::CreateClient(const PaneSizes& sizes) {
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("paneSplitter"));
    m_splitter->setChildrenCollapsible(false);

    m_form = new CUIForm(m_store, m_splitter);
    m_form->resize(sizes.uiWidth, sizes.splitterHeight);
    m_form->InitialUpdate();
    m_pictureView = new CPicView(m_splitter);
    m_pictureView->resize(sizes.picWidth, sizes.splitterHeight);

    m_splitter->addWidget(m_form);
    m_splitter->addWidget(m_pictureView);
    // The form keeps its width when the window grows; the picture takes the rest.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({sizes.uiWidth, sizes.picWidth});
    setCentralWidget(m_splitter);

    m_form->BuildFormatList(AvailableEncoders());
}

PaneSizes CMainFrame::FirstPaneSizes() const {
    const QRect screenArea = screen()->availableGeometry();
    const QSize form = m_form->FullSizeHint();
    const int bars = menuBar()->sizeHint().height() + m_toolBar->sizeHint().height() +
                     statusBar()->sizeHint().height();
    const int handle = m_splitter->handleWidth();
    PaneSizes sizes;
    sizes.uiWidth = std::max(sizes.uiWidth, form.width());
    // The whole form where the screen has room; else as much as fits, and
    // the form scrolls (its Capture bar stays in view).
    const int lowest = kMinimumHeight - bars;
    const int highest = std::max(lowest, screenArea.height() - kDecorationHeight - bars);
    sizes.splitterHeight = std::clamp(form.height(), lowest, highest);
    const int widest =
        std::max(kMinimumWidth, screenArea.width() - kDecorationWidth) - sizes.uiWidth - handle;
    sizes.picWidth = std::max(
        kMinimumWidth - sizes.uiWidth - handle,
        std::min(widest, sizes.splitterHeight * kPictureAspectWidth / kPictureAspectHeight));
    return sizes;
}

void CMainFrame::CreateToolBar() {
    m_toolBar = new QToolBar(QStringLiteral("Instrument control"), this);
    m_toolBar->setObjectName(QStringLiteral("instrumentToolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    // The menu's own actions: text, enabled state and handling are theirs.
    m_toolBar->addAction(m_captureAction);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_stopAction);
    m_toolBar->addAction(m_runAction);
    m_toolBar->addAction(m_singleAction);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::CreateMenus() {
    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    m_saveAsAction =
        AddCommand(fileMenu, QStringLiteral("Save As..."), QStringLiteral("Save current image"),
                   QStringLiteral("saveAsAction"));
    m_saveAsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_ioLogPane = new CIoLogPane(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_ioLogPane);
    fileMenu->addAction(m_ioLogPane->LogAction());
    fileMenu->addSeparator();
    m_exitAction =
        AddCommand(fileMenu, QStringLiteral("E&xit"),
                   QStringLiteral("Quit the application; prompts to save documents\nExit"),
                   QStringLiteral("exitAction"));

    // Undo, Cut and Paste have no handler: shown, never enabled. Their keys
    // stay with the text boxes.
    QMenu* editMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    m_undoAction =
        AddCommand(editMenu, QStringLiteral("&Undo\tCtrl+Z"),
                   QStringLiteral("Undo the last action\nUndo"), QStringLiteral("undoAction"));
    editMenu->addSeparator();
    m_cutAction = AddCommand(editMenu, QStringLiteral("Cu&t\tCtrl+X"),
                             QStringLiteral("Cut the selection and put it on the Clipboard\nCut"),
                             QStringLiteral("cutAction"));
    m_copyAction =
        AddCommand(editMenu, QStringLiteral("&Copy"),
                   QStringLiteral("Copy the selection and put it on the Clipboard\nCopy"),
                   QStringLiteral("copyAction"));
    m_copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    m_pasteAction = AddCommand(editMenu, QStringLiteral("&Paste\tCtrl+V"),
                               QStringLiteral("Insert Clipboard contents\nPaste"),
                               QStringLiteral("pasteAction"));
    m_undoAction->setEnabled(false);
    m_cutAction->setEnabled(false);
    m_pasteAction->setEnabled(false);

    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    m_statusBarAction = AddCommand(viewMenu, QStringLiteral("&Status Bar"),
                                   QStringLiteral("Show or hide the status bar\nToggle Status Bar"),
                                   QStringLiteral("statusBarAction"));
    m_statusBarAction->setCheckable(true);
    m_statusBarAction->setChecked(true);
    viewMenu->addAction(m_ioLogPane->toggleViewAction());
    connect(fileMenu, &QMenu::aboutToShow, m_ioLogPane, &CIoLogPane::UpdateState);

    QMenu* instrumentMenu = menuBar()->addMenu(QStringLiteral("&Instrument control"));
    // The Capture button's command; its text follows the button ("Abort"
    // while a countdown runs).
    m_captureAction = AddCommand(instrumentMenu, QStringLiteral("Capture"),
                                 QStringLiteral("Capture the instrument's screen"),
                                 QStringLiteral("captureAction"));
    m_captureAction->setShortcut(QKeySequence(kCaptureKey));
    instrumentMenu->addSeparator();
    m_stopAction = AddCommand(instrumentMenu, QStringLiteral("Stop"),
                              QStringLiteral("Stop instrument"), QStringLiteral("stopAction"));
    m_runAction = AddCommand(instrumentMenu, QStringLiteral("Run"),
                             QStringLiteral("Run instrument"), QStringLiteral("runAction"));
    m_singleAction = AddCommand(instrumentMenu, QStringLiteral("Single"),
                                QStringLiteral("Do single run"), QStringLiteral("singleAction"));

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    m_aboutAction = AddCommand(
        helpMenu, QStringLiteral("&About Quarvel..."),
        QStringLiteral("Display program information, version number and copyright\nAbout"),
        QStringLiteral("aboutAction"));

    for (QMenu* menu : {fileMenu, editMenu, viewMenu, instrumentMenu, helpMenu})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);

    connect(m_saveAsAction, &QAction::triggered, this, [this] {
        if (m_controller.HasPicture())
            m_controller.SaveCurrentImageAs();
        UpdateCommandStates();
    });
    connect(m_copyAction, &QAction::triggered, this, [this] {
        if (m_controller.HasPicture())
            m_controller.CopyPictureToClipboard();
    });
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close);
    connect(m_statusBarAction, &QAction::toggled, this,
            [this](bool shown) { statusBar()->setVisible(shown); });
    // The instrument commands belong to the form; they are enabled only
    // while it is the active pane.
    connect(m_stopAction, &QAction::triggered, this, [this] {
        if (m_formActive)
            m_form->StopCommand();
    });
    connect(m_runAction, &QAction::triggered, this, [this] {
        if (m_formActive)
            m_form->RunCommand();
    });
    connect(m_singleAction, &QAction::triggered, this, [this] {
        if (m_formActive)
            m_form->SingleCommand();
    });
    connect(m_captureAction, &QAction::triggered, this, [this] { m_form->CaptureCommand(); });
    connect(m_aboutAction, &QAction::triggered, this, &CMainFrame::ShowAbout);
}

void CMainFrame::ConnectRequests() {
    connect(m_form, &CUIForm::connectRequested, this, [this] { m_controller.ToggleConnection(); });
    connect(m_form, &CUIForm::captureRequested, this,
            [this] { m_controller.StartOrAbortCapture(); });
    connect(m_form, &CUIForm::stopRequested, this, [this] { m_controller.StopRequest(); });
    connect(m_form, &CUIForm::runRequested, this, [this] { m_controller.RunRequest(); });
    connect(m_form, &CUIForm::singleRequested, this, [this] { m_controller.SingleRequest(); });
    connect(m_form, &CUIForm::connectedStateChanged, this, &CMainFrame::UpdateCommandStates);
    connect(m_form, &CUIForm::captureCaptionChanged, this, &CMainFrame::UpdateCommandStates);
}

void CMainFrame::UpdateCommandStates() {
    // While a request is under way the menus may open, but nothing in them
    // may start another request or a modal dialog.
    const bool idle = !m_requestUnderWay;
    const bool hasPicture = m_controller.HasPicture();
    m_saveAsAction->setEnabled(hasPicture && idle);
    m_copyAction->setEnabled(hasPicture);
    m_exitAction->setEnabled(idle);
    m_aboutAction->setEnabled(idle);
    const bool instrumentCommands =
        idle && m_formActive && m_form != nullptr && m_form->IsInstrumentConnected();
    m_stopAction->setEnabled(instrumentCommands);
    m_runAction->setEnabled(instrumentCommands);
    m_singleAction->setEnabled(instrumentCommands);
    if (m_form != nullptr) {
        m_captureAction->setText(m_form->CaptureCaption());
        m_captureAction->setEnabled(idle && m_form->IsCaptureEnabled());
    }
    m_statusBarAction->setChecked(!statusBar()->isHidden());
}

void CMainFrame::SetFormActive(bool active) {
    if (m_formActive == active)
        return;
    m_formActive = active;
    UpdateCommandStates();
}

CMainFrame::Pane CMainFrame::PaneOf(const QObject* object) const {
    if (m_form == nullptr || !object->isWidgetType())
        return Pane::None;
    // Walk the parent chain across windows, so that a drop-down's popup list
    // counts as part of the form.
    for (auto* widget = static_cast<const QWidget*>(object); widget != nullptr;
         widget = widget->parentWidget()) {
        if (widget == m_form)
            return Pane::Form;
        if (widget == m_pictureView)
            return Pane::Picture;
        if (widget == this)
            return Pane::None;
    }
    return Pane::None;
}

bool CMainFrame::FilterInputDuringTransfer(QObject* watched, QEvent* event) {
    if (!m_inTransfer || !watched->isWidgetType() || !IsUserInput(event->type()))
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        QApplication::activePopupWidget() == nullptr) {
        m_cancelRequested = true;
        return true;
    }
    if (widget == m_cancelButton || qobject_cast<QMenuBar*>(widget) != nullptr ||
        qobject_cast<QMenu*>(widget) != nullptr)
        return false;
    return true;
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (FilterInputDuringTransfer(watched, event))
        return true;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::FocusIn: {
        const Pane pane = PaneOf(watched);
        if (pane != Pane::None)
            SetFormActive(pane == Pane::Form);
        break;
    }
    case QEvent::ShortcutOverride: {
        // A text box would keep Ctrl+C (and could keep Ctrl+S) for itself;
        // while there is a picture these keys belong to the frame's commands.
        if (PaneOf(watched) == Pane::None)
            break;
        UpdateCommandStates();
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        if ((m_copyAction->isEnabled() && IsShortcutKey(keyEvent, m_copyAction->shortcut())) ||
            (m_saveAsAction->isEnabled() && IsShortcutKey(keyEvent, m_saveAsAction->shortcut()))) {
            event->ignore();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // Leaving a menu item brings back the idle text, as on closing the menu.
        const QString tip = PromptText(static_cast<QStatusTipEvent*>(event)->tip());
        statusBar()->showMessage(tip.isEmpty() ? kIdleMessage : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The window cannot go while a request is inside it: the request is
    // cancelled instead, and the window can be closed once it has ended.
    if (m_requestUnderWay) {
        m_cancelRequested = true;
        event->ignore();
        return;
    }
    SavePlacement();
    QMainWindow::closeEvent(event);
}

void CMainFrame::SavePlacement() {
    if (m_placementSaved || m_splitter == nullptr)
        return;
    m_placementSaved = true;
    SaveWindowPlacement(m_store, saveGeometry());
    PaneSizes sizes;
    sizes.uiWidth = m_form->width();
    sizes.picWidth = m_pictureView->width();
    sizes.splitterHeight = m_splitter->height();
    SavePaneSizes(m_store, sizes);
}

void CMainFrame::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

ICaptureForm& CMainFrame::Form() {
    return *m_form;
}

void CMainFrame::SetStatusText(const std::string& text) {
    statusBar()->showMessage(QString::fromStdString(text));
    UpdateCommandStates();
    // Each step of a request shows at once, not only at its first report.
    if (m_requestUnderWay)
        statusBar()->repaint();
}

void CMainFrame::ShowMessage(const std::string& text, MessageIcon icon) {
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    if (icon == MessageIcon::Error)
        boxIcon = QMessageBox::Critical;
    else if (icon == MessageIcon::Warning)
        boxIcon = QMessageBox::Warning;
    QMessageBox box(boxIcon, kCaption, QString::fromStdString(text), QMessageBox::Ok, this);
    box.exec();
}

bool CMainFrame::AskSaveFileName(const SaveDialogRequest& request, std::string& chosenPath) {
    QFileDialog dialog(this, QStringLiteral("Save As"),
                       QString::fromStdString(request.initialPath));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList nameFilters = ToNameFilters(request.encoders);
    dialog.setNameFilters(nameFilters);
    const int filterIndex = request.initialFilterIndex - 1;
    if (filterIndex >= 0 && filterIndex < nameFilters.size())
        dialog.selectNameFilter(nameFilters[filterIndex]);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    chosenPath = dialog.selectedFiles().first().toStdString();
    return true;
}

bool CMainFrame::PutImageOnClipboard(const QImage& image, std::string& error) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr || image.isNull()) {
        error = "The clipboard is not available.";
        return false;
    }
    clipboard->setImage(image);
    return true;
}

void CMainFrame::ShowPicture(const QImage* picture) {
    m_pictureView->SetImage(picture);
    m_pictureView->update();
    UpdateCommandStates();
}

void CMainFrame::StartCountdownTimer() {
    m_countdownTimer.start();
}

void CMainFrame::StopCountdownTimer() {
    m_countdownTimer.stop();
}

void CMainFrame::RequestStarted() {
    m_requestUnderWay = true;
    m_cancelRequested = false;
    if (m_form != nullptr)
        m_form->SetRequestUnderWay(true);
    m_transferBar->setRange(0, 0); // busy until a transfer announces its length
    m_transferBar->show();
    m_cancelButton->show();
    UpdateCommandStates();
}

bool CMainFrame::TransferProgress(std::uint64_t done, std::uint64_t expected) {
    if (expected == kTransferSizeUnknown || expected == 0) {
        m_transferBar->setRange(0, 0);
    } else {
        m_transferBar->setRange(0, kTransferBarSteps);
        m_transferBar->setValue(
            static_cast<int>(std::min(done, expected) * kTransferBarSteps / expected));
    }
    // Paint, resize and timer events; of the user's input only what
    // FilterInputDuringTransfer lets through.
    m_inTransfer = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_inTransfer = false;
    return std::exchange(m_cancelRequested, false);
}

void CMainFrame::KeepPainting() {
    // Paint and timers only: input that comes now is delivered once the
    // request has ended, as if it had come then.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CMainFrame::WaveformChannelStarted(const std::string& channel, std::size_t number,
                                        std::size_t count) {
    // The bar's text names the channel its bytes belong to, and how far
    // through the channels the capture is; the status line says the rest.
    m_transferBar->setFormat(QStringLiteral("%1 (%2 of %3): %p%")
                                 .arg(QString::fromStdString(channel))
                                 .arg(number)
                                 .arg(count));
    m_transferBar->setTextVisible(true);
    m_transferBar->repaint();
}

void CMainFrame::RequestEnded() {
    m_requestUnderWay = false;
    m_cancelRequested = false;
    if (m_form != nullptr)
        m_form->SetRequestUnderWay(false);
    m_transferBar->setFormat(kTransferBarFormat);
    m_transferBar->hide();
    m_cancelButton->hide();
    UpdateCommandStates();
}
