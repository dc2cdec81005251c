// Capture in the real window: the Capture button saves numbered files into
// the chosen directory and shows the picture; with a delay the window's own
// one-second timer counts down and then captures.
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt_app_fixture.h"
#include "ui/main_frame.h"
#include "ui/pic_view.h"
#include "ui/ui_form.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

using quarvel::test::PathExists;
using quarvel::test::ScopedSettingsDir;
using quarvel::test::SimProcess;
using quarvel::test::TempDir;

class QuietFrame : public CMainFrame {
public:
    void ShowMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
    bool AskSaveFileName(const SaveDialogRequest&, std::string&) override { return false; }
    std::vector<std::string> messages;
};

template <typename T> T* Find(QWidget& parent, const char* name) {
    T* widget = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

TEST(CaptureWindow, CaptureButtonSavesNumberedFilesAndCountsDown) {
    ScopedSettingsDir settings;
    SimProcess sim({"--instrument", "infiniivision-x"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir shots;
    auto frame = std::make_unique<QuietFrame>();
    frame->show();

    Find<QComboBox>(*frame, "visaAddressCombo")
        ->setEditText(QString::fromStdString(sim.SocketResource()));
    QTest::mouseClick(Find<QPushButton>(*frame, "connectButton"), Qt::LeftButton);
    ASSERT_TRUE(frame->Controller().HasDriver())
        << frame->statusBar()->currentMessage().toStdString();

    Find<QComboBox>(*frame, "imageDirCombo")->setEditText(QString::fromStdString(shots.Path()));
    Find<QComboBox>(*frame, "saveModeCombo")->setCurrentIndex(0);
    auto* capture = Find<QPushButton>(*frame, "captureButton");
    QTest::mouseClick(capture, Qt::LeftButton);
    EXPECT_TRUE(PathExists(shots.File("Screenshot.png")))
        << frame->statusBar()->currentMessage().toStdString();
    ASSERT_TRUE(frame->Controller().HasPicture());
    EXPECT_EQ(frame->PictureView().Image(), &frame->Controller().Picture());

    auto* delay = Find<QLineEdit>(*frame, "captureDelayEdit");
    delay->setText("1");
    QTest::mouseClick(capture, Qt::LeftButton);
    EXPECT_EQ(frame->statusBar()->currentMessage(), "Capture delay, 1 seconds remaining");
    EXPECT_EQ(capture->text(), "Abort");
    EXPECT_FALSE(PathExists(shots.File("Screenshot-0001.png")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !frame->Controller().IsCountdownRunning(); }, 5000));
    EXPECT_TRUE(PathExists(shots.File("Screenshot-0001.png")))
        << frame->statusBar()->currentMessage().toStdString();
    EXPECT_EQ(capture->text(), "Capture screenshot");
    EXPECT_TRUE(frame->statusBar()->currentMessage().startsWith("Data capture finished. "));
    EXPECT_TRUE(frame->messages.empty());
    frame.reset();
}

} // namespace
