#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt_app_fixture.h"
#include "tests/ui/test_frame.h"
#include "ui/io_log_pane.h"
#include "ui/pic_view.h"
#include "ui/ui_form.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QToolBar>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quarvel::test {
namespace {

class MainFrameTest : public ::testing::Test {
protected:
    // The window open, after a simulator started with `simArgs` when given.
    void CreateFrame(const std::vector<std::string>& simArgs = {}) {
        if (!simArgs.empty()) {
            m_sim = std::make_unique<SimProcess>(simArgs);
            EXPECT_TRUE(m_sim->Started()) << m_sim->Output(); // the window opens all the same
        }
        m_frame = std::make_unique<TestFrame>();
        m_frame->show();
        QApplication::setActiveWindow(m_frame.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
    }
    void TearDown() override { m_frame.reset(); }

    template <typename T> T* Get(const char* name) { return m_frame->Get<T>(name); }
    QString Status() { return m_frame->Status(); }
    bool ClickConnect(const std::string& address) { return m_frame->ConnectTo(address); }
    bool InstrumentCommandsEnabled() {
        m_frame->UpdateCommandStates();
        const bool stop = m_frame->StopAction()->isEnabled();
        EXPECT_EQ(stop, m_frame->RunAction()->isEnabled());
        EXPECT_EQ(stop, m_frame->SingleAction()->isEnabled());
        return stop;
    }

    ScopedSettingsDir m_settingsDir;
    std::unique_ptr<SimProcess> m_sim;
    TempDir m_shots;
    std::unique_ptr<TestFrame> m_frame;
};

// A left click that arrives through the event queue.
void PostClick(QWidget* widget, QPoint at) {
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QCoreApplication::postEvent(widget, new QMouseEvent(type, QPointF(at),
                                                            widget->mapToGlobal(QPointF(at)),
                                                            Qt::LeftButton, held, Qt::NoModifier));
    }
}

bool Contains(const std::vector<std::string>& lines, const std::string& wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

// A command without reply may still be on its way to the simulator when the
// request returns: wait (boundedly) until the transcript holds it.
std::vector<std::string> TranscriptWith(const SimProcess& sim, const std::string& wanted) {
    std::vector<std::string> transcript = sim.Transcript();
    for (int i = 0; i < 100 && !Contains(transcript, wanted); ++i) {
        QTest::qWait(20);
        transcript = sim.Transcript();
    }
    return transcript;
}

TEST_F(MainFrameTest, ConnectRunControlAndDisconnectAnInfiniiVision) {
    ASSERT_NO_FATAL_FAILURE(CreateFrame({"--instrument", "infiniivision-x"}));
    const SimProcess& sim = *m_sim;
    ASSERT_TRUE(ClickConnect(sim.SocketResource())) << Status().toStdString();
    EXPECT_TRUE(m_frame->messages.empty());
    EXPECT_EQ(Status(), "Instrument connected");
    EXPECT_TRUE(Get<QLabel>("idnLabel")->text().startsWith("KEYSIGHT TECHNOLOGIES,DSO-X 3034A"));
    auto* channels = Get<QListWidget>("channelList");
    EXPECT_FALSE(channels->findItems("CHAN1", Qt::MatchExactly).isEmpty());
    EXPECT_EQ(m_frame->ControlForm().AddressHistory().value(0).toStdString(), sim.SocketResource());

    // Which pane is active decides the commands: the toolbar test.
    sim.ClearTranscript();
    m_frame->StopAction()->trigger();
    m_frame->RunAction()->trigger();
    m_frame->SingleAction()->trigger();
    const std::vector<std::string> transcript = TranscriptWith(sim, ":SINGLE");
    EXPECT_TRUE(Contains(transcript, ":RUN")) << sim.Output();
    const auto stop = std::find(transcript.begin(), transcript.end(), ":STOP");
    const auto single = std::find(transcript.begin(), transcript.end(), ":SINGLE");
    EXPECT_LT(stop, single);

    QTest::mouseClick(Get<QPushButton>("connectButton"), Qt::LeftButton);
    EXPECT_EQ(Status(), "Instrument disconnected");
    EXPECT_EQ(channels->count(), 0);
    EXPECT_FALSE(InstrumentCommandsEnabled());
}

TEST_F(MainFrameTest, TheVisaLibraryComesFromTheEnvironmentOrElseFromTheSettings) {
    m_settingsDir.WriteRaw("Instrument/VisaLibrary", "/nonexistent/from-settings.so");
    CreateFrame();
    const std::string settingsError =
        "cannot load the VISA library /nonexistent/from-settings.so: ";
    EXPECT_EQ(Status().toStdString().rfind(settingsError, 0), 0u) << Status().toStdString();
    // A GPIB address was meant for that library: the connect says why it failed.
    ClickConnect("GPIB0::3::INSTR");
    ASSERT_EQ(m_frame->messages.size(), 1u);
    EXPECT_EQ(m_frame->messages[0].first.rfind("Connect failed!\n" + settingsError, 0), 0u)
        << m_frame->messages[0].first;
    EXPECT_EQ(m_frame->messages[0].second, MessageIcon::Error);
    m_frame.reset();

    // The environment's library (our own, every resource sent to it) wins.
    setenv("QUARVEL_VISA_LIBRARY", QUARVEL_VISA_SHARED_LIBRARY, 1);
    setenv("QUARVEL_VISA_LIBRARY_ALL", "1", 1);
    CreateFrame({"--instrument", "rigol"});
    unsetenv("QUARVEL_VISA_LIBRARY");
    unsetenv("QUARVEL_VISA_LIBRARY_ALL");
    EXPECT_EQ(Status(), "Ready");
    ClickConnect(m_sim->SocketResource());
    EXPECT_TRUE(m_frame->ControlForm().IsInstrumentConnected()) << Status().toStdString();
    EXPECT_TRUE(m_frame->messages.empty());
}

// The Capture button in the real window saves numbered files into the chosen
// directory and shows the picture; with a delay the window's own one-second
// timer counts down and then captures. The instrument is a USB one.
TEST_F(MainFrameTest, CaptureButtonSavesNumberedFilesAndCountsDown) {
    ASSERT_NO_FATAL_FAILURE(CreateFrame({"--instrument", "infiniivision-x"}));
    // Over USB: the address box takes the USB address, the USB/IP server
    // comes from the environment.
    setenv("QUARVEL_USBIP", m_sim->UsbipServer().c_str(), 1);
    const bool connected = ClickConnect(m_sim->UsbResource());
    unsetenv("QUARVEL_USBIP");
    ASSERT_TRUE(connected) << Status().toStdString();
    m_frame->SaveInto(m_shots.Path());
    auto* capture = Get<QPushButton>("captureButton");
    QTest::mouseClick(capture, Qt::LeftButton);
    EXPECT_TRUE(PathExists(m_shots.File("Screenshot.png"))) << Status().toStdString();
    ASSERT_TRUE(m_frame->Controller().HasPicture());
    EXPECT_EQ(m_frame->PictureView().Image(), &m_frame->Controller().Picture());

    Get<QLineEdit>("captureDelayEdit")->setText("1");
    QTest::mouseClick(capture, Qt::LeftButton);
    EXPECT_FALSE(PathExists(m_shots.File("Screenshot-0001.png")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_frame->Controller().IsCountdownRunning(); }, 5000));
    EXPECT_TRUE(PathExists(m_shots.File("Screenshot-0001.png"))) << Status().toStdString();
    EXPECT_EQ(capture->text(), "Capture screenshot");
    EXPECT_TRUE(Status().startsWith("Data capture finished. "));
    EXPECT_TRUE(m_frame->messages.empty());
}

TEST_F(MainFrameTest, ALongCaptureKeepsTheWindowLiveShowsProgressAndCanBeCancelled) {
    // A 1.1 MB screen image, sent after 400 ms at 3 MB/s.
    ASSERT_NO_FATAL_FAILURE(CreateFrame({"--instrument", "rigol", "--delay-ms", "400", "--rate",
                                         "3000", "--fault-on", ":DISPlay:DATA?"}));
    ASSERT_TRUE(ClickConnect(m_sim->SocketResource())) << Status().toStdString();
    m_frame->SaveInto(m_shots.Path(), true);
    auto* capture = Get<QPushButton>("captureButton");
    QMenuBar* menuBar = m_frame->menuBar();
    QAction* helpTitle = menuBar->actions().back();
    QMenu* helpMenu = helpTitle->menu();
    ASSERT_NE(helpMenu, nullptr);
    QProgressBar* bar = m_frame->TransferBar();
    // Each bar value with the total of the transfer it shows. The capture is
    // several transfers (":STOP", "*OPC?", the image query, the image, ":RUN"),
    // and under load a command's write can be shown full just before the image
    // starts from 0. Within one transfer the bar never steps back.
    std::uint64_t transferTotal = 0;
    std::vector<std::pair<std::uint64_t, int>> barValues;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
        if (bar->maximum() > 0)
            barValues.emplace_back(transferTotal, v);
    });
    auto imageTransfer = [](std::uint64_t done, std::uint64_t expected) {
        return expected != kTransferSizeUnknown && expected > 100000 && done > 0;
    };

    // While the capture waits for its image: the Help menu opens (its About
    // is disabled), a click on Disconnect is dropped, bar and Cancel show.
    enum class Step { OpenMenu, MenuOpen, Done } step = Step::OpenMenu;
    bool helpOpenedDuringCapture = false;
    bool indicatorShown = false;
    m_frame->duringTransfer = [&](std::uint64_t, std::uint64_t expected) {
        transferTotal = expected;
        indicatorShown =
            indicatorShown || (bar->isVisible() && m_frame->CancelButton()->isVisible());
        if (step == Step::OpenMenu) {
            PostClick(menuBar, menuBar->actionGeometry(helpTitle).center());
            PostClick(Get<QPushButton>("connectButton"), QPoint(5, 5));
            step = Step::MenuOpen;
        } else if (step == Step::MenuOpen && helpMenu->isVisible()) {
            helpOpenedDuringCapture = m_frame->Controller().IsRequestUnderWay();
            EXPECT_FALSE(m_frame->AboutAction()->isEnabled());
            QCoreApplication::postEvent(helpMenu,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
            step = Step::Done;
        }
    };
    QTest::mouseClick(capture, Qt::LeftButton);
    EXPECT_TRUE(helpOpenedDuringCapture);
    EXPECT_TRUE(indicatorShown);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(m_frame->ControlForm().IsInstrumentConnected());
    ASSERT_TRUE(PathExists(m_shots.File("Screenshot.png"))) << Status().toStdString();
    std::vector<int> imageValues;
    for (const auto& [total, value] : barValues)
        if (imageTransfer(1, total))
            imageValues.push_back(value);
    ASSERT_GE(imageValues.size(), 3u) << ::testing::PrintToString(barValues);
    EXPECT_EQ(imageValues.back(), 1000);
    const auto stepBack =
        std::adjacent_find(barValues.begin(), barValues.end(), [](const auto& a, const auto& b) {
            return a.first == b.first && b.second < a.second;
        });
    EXPECT_TRUE(stepBack == barValues.end()) << ::testing::PrintToString(barValues);

    // Cancel in the middle of the image, by button and by Escape: nothing is
    // written (no comments entry either: CliInterrupt's capture case), the
    // stopped instrument runs again, the next capture works.
    for (const bool byEscape : {false, true}) {
        bool cancelPosted = false;
        m_frame->duringTransfer = [&](std::uint64_t done, std::uint64_t expected) {
            if (cancelPosted || !imageTransfer(done, expected))
                return;
            if (byEscape)
                QCoreApplication::postEvent(m_frame.get(),
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
            else
                PostClick(m_frame->CancelButton(), QPoint(5, 5));
            cancelPosted = true;
        };
        m_sim->ClearTranscript();
        QTest::mouseClick(capture, Qt::LeftButton);
        EXPECT_TRUE(cancelPosted) << byEscape;
        EXPECT_EQ(Status(), "Capture cancelled.") << byEscape;
        EXPECT_FALSE(PathExists(m_shots.File("Screenshot-0001.png"))) << byEscape;
        const std::vector<std::string> transcript = TranscriptWith(*m_sim, ":RUN");
        EXPECT_TRUE(Contains(transcript, ":STOP") && Contains(transcript, ":RUN")) << byEscape;
    }
    m_frame->duringTransfer = {};
    QTest::mouseClick(capture, Qt::LeftButton);
    EXPECT_TRUE(PathExists(m_shots.File("Screenshot-0001.png"))) << Status().toStdString();
    EXPECT_TRUE(m_frame->messages.empty());
}

TEST_F(MainFrameTest, ACapturedPictureEnablesSaveAsAndCopyAndTheirKeysWorkFromATextBox) {
    ASSERT_NO_FATAL_FAILURE(CreateFrame({"--instrument", "infiniivision-x"}));
    ASSERT_TRUE(ClickConnect(m_sim->SocketResource())) << Status().toStdString();

    // Without a picture Save As and Copy are off, and Ctrl+C in a text box
    // copies its text.
    m_frame->UpdateCommandStates();
    EXPECT_FALSE(m_frame->SaveAsAction()->isEnabled());
    EXPECT_FALSE(m_frame->CopyAction()->isEnabled());
    EXPECT_TRUE(m_frame->AboutAction()->isEnabled());
    auto* comments = Get<QPlainTextEdit>("commentsEdit");
    comments->setFocus();
    comments->setPlainText("note");
    comments->selectAll();
    QTest::keyClick(comments, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "note");

    Get<QComboBox>("saveModeCombo")->setCurrentIndex(1); // Copy to clipboard
    QTest::mouseClick(Get<QPushButton>("captureButton"), Qt::LeftButton);
    ASSERT_TRUE(m_frame->Controller().HasPicture()) << Status().toStdString();
    EXPECT_TRUE(m_frame->SaveAsAction()->isEnabled());

    // With the picture pane active the picture commands stay on (the
    // instrument commands go off: the toolbar test).
    QTest::mouseClick(&m_frame->PictureView(), Qt::LeftButton);
    EXPECT_TRUE(m_frame->CopyAction()->isEnabled());

    QGuiApplication::clipboard()->setText("placeholder");
    comments->setFocus();
    comments->setPlainText("selected text");
    comments->selectAll();
    QTest::keyClick(comments, Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_FALSE(copied.isNull());
    EXPECT_EQ(copied.size(), m_frame->Controller().Picture().size());

    // Ctrl+S from the same text box is Save As.
    TempDir out;
    m_frame->savePath = out.File("saved.png");
    QTest::keyClick(comments, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(m_frame->saveDialogs, 1);
    const QImage saved(QString::fromStdString(m_frame->savePath));
    EXPECT_EQ(saved.size(), m_frame->Controller().Picture().size());
}

// The Capture command (menu, toolbar, F5) and the toolbar's Stop, Run and
// Single are enabled exactly when the button or menu entry they stand for
// is, through a connect, a countdown and a disconnect.
TEST_F(MainFrameTest, TheToolbarAndTheCaptureCommandFollowTheButtonAndTheMenu) {
    ASSERT_NO_FATAL_FAILURE(CreateFrame({"--instrument", "rigol"}));
    QToolBar* toolBar = m_frame->InstrumentToolBar();
    auto* captureButton = Get<QPushButton>("captureButton");
    const std::vector<QAction*> actions = {m_frame->CaptureAction(), m_frame->StopAction(),
                                           m_frame->RunAction(), m_frame->SingleAction()};
    // Each toolbar button, as shown, against the menu entry and the form's button.
    auto expectInStep = [&](const char* step) {
        m_frame->UpdateCommandStates();
        EXPECT_EQ(m_frame->CaptureAction()->isEnabled(), captureButton->isEnabled()) << step;
        EXPECT_EQ(m_frame->CaptureAction()->text(), captureButton->text()) << step;
        for (QAction* action : actions) {
            QWidget* button = toolBar->widgetForAction(action);
            ASSERT_NE(button, nullptr) << action->objectName().toStdString();
            EXPECT_TRUE(button->isVisible()) << step;
            EXPECT_EQ(button->isEnabled(), action->isEnabled())
                << step << " " << action->objectName().toStdString();
        }
    };
    expectInStep("at start");
    EXPECT_FALSE(m_frame->CaptureAction()->isEnabled());

    ASSERT_TRUE(ClickConnect(m_sim->SocketResource())) << Status().toStdString();
    expectInStep("connected");
    EXPECT_TRUE(m_frame->CaptureAction()->isEnabled());
    EXPECT_TRUE(InstrumentCommandsEnabled());
    QTest::mouseClick(&m_frame->PictureView(), Qt::LeftButton);
    expectInStep("picture pane active");
    EXPECT_FALSE(InstrumentCommandsEnabled());
    EXPECT_TRUE(m_frame->CaptureAction()->isEnabled());

    // During a capture the button, its command and the toolbar are off
    // together; afterwards the button has its focus back.
    m_frame->SaveInto(m_shots.Path());
    bool checkedDuringCapture = false;
    m_frame->duringTransfer = [&](std::uint64_t, std::uint64_t) {
        if (checkedDuringCapture)
            return;
        expectInStep("capturing");
        EXPECT_FALSE(captureButton->isEnabled());
        checkedDuringCapture = true;
    };
    captureButton->setFocus();
    QTest::mouseClick(captureButton, Qt::LeftButton);
    m_frame->duringTransfer = {};
    EXPECT_TRUE(checkedDuringCapture);
    EXPECT_TRUE(PathExists(m_shots.File("Screenshot.png"))) << Status().toStdString();
    expectInStep("captured");
    EXPECT_TRUE(captureButton->isEnabled());
    EXPECT_TRUE(captureButton->hasFocus());

    // The toolbar's Capture starts the countdown; the command is then Abort
    // and ends it, as the button does.
    Get<QLineEdit>("captureDelayEdit")->setText("5");
    QTest::mouseClick(toolBar->widgetForAction(m_frame->CaptureAction()), Qt::LeftButton);
    ASSERT_TRUE(m_frame->Controller().IsCountdownRunning()) << Status().toStdString();
    expectInStep("counting down");
    EXPECT_EQ(m_frame->CaptureAction()->text(), "Abort");
    m_frame->CaptureAction()->trigger();
    EXPECT_FALSE(m_frame->Controller().IsCountdownRunning());
    expectInStep("aborted");
    EXPECT_EQ(FileNamesIn(m_shots.Path()).size(), 1u); // the first capture's

    QTest::mouseClick(Get<QPushButton>("connectButton"), Qt::LeftButton);
    expectInStep("disconnected");
    EXPECT_FALSE(m_frame->CaptureAction()->isEnabled());
}

// A wheel turned over the form's drop-downs scrolls the form and leaves
// their values; a drop-down with the keyboard focus still takes it.
TEST_F(MainFrameTest, TheWheelScrollsTheFormPastDropDownsWithoutChangingThem) {
    CreateFrame();
    m_frame->resize(960, 480); // the smallest window: the form must scroll
    QApplication::processEvents();
    QScrollBar* scroll = m_frame->ControlForm().OptionsArea()->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    Get<QLineEdit>("baseNameEdit")->setFocus(); // no drop-down has the focus

    auto turnWheel = [](QWidget* over) {
        const QPointF at(over->width() / 2.0, over->height() / 2.0);
        QWheelEvent wheel(at, over->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(over, &wheel);
    };
    auto* format = Get<QComboBox>("imageFormatCombo");
    ASSERT_GT(format->count(), 2);
    for (QComboBox* combo : m_frame->ControlForm().findChildren<QComboBox*>()) {
        if (combo->count() < 2)
            continue;
        combo->setCurrentIndex(0);
        scroll->setValue(0);
        turnWheel(combo);
        EXPECT_EQ(combo->currentIndex(), 0) << combo->objectName().toStdString();
        EXPECT_GT(scroll->value(), 0) << combo->objectName().toStdString();
    }

    // The number and text boxes ignore the wheel: it scrolls the form too.
    for (const char* name : {"sequenceEdit", "captureDelayEdit"}) {
        auto* edit = Get<QLineEdit>(name);
        const QString text = edit->text();
        scroll->setValue(0);
        turnWheel(edit);
        EXPECT_EQ(edit->text(), text) << name;
        EXPECT_GT(scroll->value(), 0) << name;
    }

    // Clicked into, the box is the user's to change with the wheel.
    format->setCurrentIndex(0);
    format->setFocus();
    turnWheel(format);
    EXPECT_EQ(format->currentIndex(), 1);
}

TEST_F(MainFrameTest, PlacementAndPaneWidthSurviveARestartAndAnUnreadableOneIsIgnored) {
    CreateFrame();
    m_frame->resize(1200, 700);
    Get<QSplitter>("paneSplitter")->setSizes({380, 800});
    QApplication::processEvents();
    const int formWidth = m_frame->ControlForm().width();
    m_frame->close();
    m_frame.reset();

    EXPECT_EQ(m_settingsDir.ReadRaw("Window/UIWidth").toInt(), formWidth);
    EXPECT_FALSE(m_settingsDir.ReadRaw("Window/WindowState").toByteArray().isEmpty());

    CreateFrame();
    QApplication::processEvents();
    EXPECT_EQ(m_frame->size(), QSize(1200, 700));
    EXPECT_EQ(m_frame->ControlForm().width(), formWidth);

    m_frame.reset();
    m_settingsDir.WriteRaw("Window/WindowState", QByteArray("not a placement"));
    CreateFrame();
    EXPECT_GE(m_frame->width(), 960);
    EXPECT_TRUE(m_frame->isVisible());
}

// The I/O log in the window: the File menu's entry starts and stops the
// log, the View menu shows the pane (hidden at start), and the pane shows
// the operations of a real connect as they happen.
TEST_F(MainFrameTest, TheIoLogPaneLogsAConnectAndShowsItsOperations) {
    ASSERT_NO_FATAL_FAILURE(CreateFrame({"--instrument", "rigol"}));
    const auto menuHas = [this](const QString& menuTitle, const QString& actionName) {
        for (QAction* menuAction : m_frame->menuBar()->actions())
            if (menuAction->text() == menuTitle && menuAction->menu() != nullptr)
                for (QAction* action : menuAction->menu()->actions())
                    if (action->objectName() == actionName)
                        return true;
        return false;
    };
    CIoLogPane& pane = m_frame->IoLogPane();
    EXPECT_TRUE(menuHas("&File", "ioLogAction"));
    EXPECT_TRUE(menuHas("&View", "ioLogPaneAction"));
    EXPECT_FALSE(pane.isVisible());
    EXPECT_FALSE(pane.LogAction()->isChecked());

    // A log that cannot be written says why: IoLogFile.AppendsAndKeepsTheUmask.
    QString error;
    ASSERT_TRUE(pane.StartLogging(m_shots.File("window.log").c_str(), true, error))
        << error.toStdString();
    EXPECT_TRUE(pane.LogAction()->isChecked());
    pane.toggleViewAction()->trigger();
    EXPECT_TRUE(pane.isVisible());

    EXPECT_TRUE(ClickConnect(m_sim->SocketResource()));
    const auto shown = [&pane] { return pane.Lines()->toPlainText(); };
    // The lines arrive as queued calls.
    QTRY_VERIFY_WITH_TIMEOUT(shown().contains("text=\"RIGOL TECHNOLOGIES,DS1054Z"), 5000);
    EXPECT_TRUE(shown().contains("op=open status=VI_SUCCESS"));
    EXPECT_TRUE(shown().contains("text=\"*IDN?\\n\""));

    pane.LogAction()->trigger(); // unchecks: stops
    EXPECT_FALSE(pane.LogAction()->isChecked());
    const std::string log = ReadFileText(m_shots.File("window.log"));
    EXPECT_EQ(log.rfind("# quarvel-io-log 1 data=window.log.data", 0), 0u) << log;
    EXPECT_NE(log.find("op=write status=VI_SUCCESS"), std::string::npos);
    // Stopped: nothing more is written.
    QTest::mouseClick(Get<QPushButton>("connectButton"), Qt::LeftButton);
    EXPECT_EQ(ReadFileText(m_shots.File("window.log")), log);
}

// During a capture with waveform data, while a channel's data comes, the
// progress bar names that channel and how many there are, and the status
// line names it too.
TEST_F(MainFrameTest, TheBarNamesTheChannelWhoseDataComesAndHowManyThereAre) {
    // Two channels of 300 000 points, each read as two pages, sent at 4 MB/s.
    ASSERT_NO_FATAL_FAILURE(CreateFrame({"--instrument", "rigol", "--waveform-points", "300000",
                                         "--rate", "4000", "--fault-on", ":WAVeform:DATA?"}));
    ASSERT_TRUE(ClickConnect(m_sim->SocketResource())) << Status().toStdString();
    m_frame->SaveInto(m_shots.Path());
    Get<QCheckBox>("retrieveWaveformsCheck")->setChecked(true);
    auto* channels = Get<QListWidget>("channelList");
    for (int i = 0; i < channels->count(); ++i) {
        QListWidgetItem* item = channels->item(i);
        const bool wanted = item->text() == "CHAN1" || item->text() == "CHAN2";
        item->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
    }
    // What the bar (its channel) and the status line showed at each step of
    // a data page (a Rigol page's block: 250 000 bytes, or the 50 000 of the
    // last).
    std::uint64_t transferTotal = 0;
    m_frame->duringTransfer = [&](std::uint64_t, std::uint64_t expected) {
        transferTotal = expected;
    };
    std::set<std::pair<std::string, std::string>> shown;
    QProgressBar* bar = m_frame->TransferBar();
    QObject::connect(bar, &QProgressBar::valueChanged, [&] {
        const std::string text = bar->text().toStdString();
        if (transferTotal == 250000 || transferTotal == 50000)
            shown.emplace(text.substr(0, text.find(':')), Status().toStdString());
    });

    QTest::mouseClick(Get<QPushButton>("captureButton"), Qt::LeftButton);

    EXPECT_TRUE(m_frame->Controller().LastCaptureSucceeded()) << Status().toStdString();
    EXPECT_EQ(FileNamesIn(m_shots.Path()),
              (std::vector<std::string>{"Screenshot.csv", "Screenshot.png"}));
    EXPECT_EQ(shown, (std::set<std::pair<std::string, std::string>>{
                         {"CHAN1 (1 of 2)", "Getting waveform data for channel CHAN1..."},
                         {"CHAN2 (2 of 2)", "Getting waveform data for channel CHAN2..."}}))
        << ::testing::PrintToString(shown);
    // After the capture the bar shows bare percentages again.
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(bar->format(), "%p%");
}

} // namespace
} // namespace quarvel::test
