// The window as a new user first meets it, on a real X server (Xvfb) of a
// given size: ctest runs this program under xvfb-run at 1280 × 800 and at
// 1024 × 600 and names the size in QUARVEL_TEST_SCREEN ("1280x800").
// QUARVEL_SCREENSHOT, when set, names a file that receives the window after
// its first capture, and QUARVEL_SCREENSHOT_PROGRESS one that receives it
// halfway through a second (scripts/readme_screenshots.sh makes the README's
// pictures so).

#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt_app_fixture.h"
#include "tests/ui/test_frame.h"
#include "ui/pic_view.h"
#include "ui/ui_form.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quarvel::test {
namespace {

class FirstWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const QByteArray wanted = qgetenv("QUARVEL_TEST_SCREEN");
        ASSERT_FALSE(wanted.isEmpty())
            << "run by ctest under xvfb-run, which names the screen in QUARVEL_TEST_SCREEN";
        const QSize screen = QGuiApplication::primaryScreen()->size();
        ASSERT_EQ(QString::fromLatin1(wanted),
                  QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height()))
            << "the X server's screen is not the one named";
        m_frame = std::make_unique<TestFrame>();
        m_frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_frame.get()));
        // No window manager runs: the window takes the input focus itself.
        m_frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
    }
    void TearDown() override { m_frame.reset(); }

    template <typename T> T* Get(const char* name) { return m_frame->Get<T>(name); }
    // `widget`'s rectangle in the window's coordinates.
    QRect InWindow(const QWidget* widget) const {
        return {widget->mapTo(m_frame.get(), QPoint(0, 0)), widget->size()};
    }

    ScopedSettingsDir m_settings; // a first run: nothing stored
    std::unique_ptr<TestFrame> m_frame;
};

TEST_F(FirstWindow, FitsTheScreenAndShowsCaptureWithTheFormAsFarAsTheScreenAllows) {
    const QRect screenArea = m_frame->screen()->availableGeometry();
    EXPECT_TRUE(screenArea.contains(m_frame->frameGeometry()))
        << m_frame->frameGeometry().width() << "x" << m_frame->frameGeometry().height();

    // The Capture button lies inside the window and inside the form pane,
    // whatever the options area scrolls.
    auto* capture = Get<QPushButton>("captureButton");
    EXPECT_TRUE(capture->isVisible());
    EXPECT_TRUE(m_frame->rect().contains(InWindow(capture)));
    EXPECT_TRUE(InWindow(&m_frame->ControlForm()).contains(InWindow(capture)));

    QScrollArea* options = m_frame->ControlForm().OptionsArea();
    const QSize picture = m_frame->PictureView().size();
    if (screenArea.height() >= 800) {
        // Everything at once, and a picture near an instrument's 800 × 480.
        EXPECT_EQ(options->verticalScrollBar()->maximum(), 0);
        EXPECT_EQ(options->horizontalScrollBar()->maximum(), 0);
        EXPECT_GE(picture.width(), 640);
        EXPECT_GE(picture.height(), 384);
    } else {
        // The options scroll; Capture, below them, does not.
        EXPECT_GT(options->verticalScrollBar()->maximum(), 0);
        options->verticalScrollBar()->setValue(0);
        EXPECT_TRUE(m_frame->rect().contains(InWindow(capture)));
        EXPECT_GE(picture.width(), 400);
    }
}

// F5 captures from anywhere in the window, a text box included, and leaves
// the box's text alone.
TEST_F(FirstWindow, TheCaptureKeyCapturesFromATextBox) {
    // Its 9 kB PNG at 20 kB/s: long enough for the progress bar to show.
    SimProcess sim({"--instrument", "infiniivision-x", "--rate", "20"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir shots;
    ASSERT_TRUE(m_frame->ConnectTo(sim.SocketResource())) << m_frame->Status().toStdString();
    m_frame->SaveInto(shots.Path());

    auto* comments = Get<QPlainTextEdit>("commentsEdit");
    comments->setFocus();
    comments->setPlainText("first look");
    QTest::keyClick(comments, Qt::Key_F5);
    EXPECT_TRUE(PathExists(shots.File("Screenshot.png"))) << m_frame->Status().toStdString();
    EXPECT_TRUE(m_frame->Controller().HasPicture());
    EXPECT_NE(ReadFileText(shots.File("Comments.txt")).find("first look"), std::string::npos);
    EXPECT_TRUE(m_frame->messages.empty());

    const QString screenshot = qEnvironmentVariable("QUARVEL_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        comments->clearFocus();
        QApplication::processEvents();
        EXPECT_TRUE(m_frame->grab().save(screenshot));
    }
    // With a file named, the window is saved there once a transfer is half done.
    QString progressShot = qEnvironmentVariable("QUARVEL_SCREENSHOT_PROGRESS");
    if (!progressShot.isEmpty()) {
        const QString file = progressShot;
        m_frame->duringTransfer = [&](std::uint64_t done, std::uint64_t expected) {
            if (!progressShot.isEmpty() && expected != kTransferSizeUnknown &&
                done * 2 >= expected && done < expected) {
                m_frame->grab().save(progressShot);
                progressShot.clear();
            }
        };
        QTest::keyClick(comments, Qt::Key_F5);
        EXPECT_TRUE(PathExists(file.toStdString()));
    }
}

} // namespace
} // namespace quarvel::test
