// The I/O log in the window: the File menu's entry starts and stops the
// log, the View menu shows the pane (hidden at start), and the pane shows
// the operations of a real connect as they happen.

#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt_app_fixture.h"
#include "tests/ui/test_frame.h"
#include "ui/io_log_pane.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using quarvel::test::ReadFileText;
using quarvel::test::ScopedSettingsDir;
using quarvel::test::SimProcess;
using quarvel::test::TempDir;
using quarvel::test::TestFrame;

bool MenuHas(CMainFrame& frame, const QString& menuTitle, const QString& actionName) {
    for (QAction* menuAction : frame.menuBar()->actions())
        if (menuAction->text() == menuTitle && menuAction->menu() != nullptr)
            for (QAction* action : menuAction->menu()->actions())
                if (action->objectName() == actionName)
                    return true;
    return false;
}

TEST(IoLogPane, LogsAConnectAndShowsItsOperations) {
    ScopedSettingsDir settings;
    SimProcess sim({"--instrument", "rigol"});
    ASSERT_TRUE(sim.Started());
    TempDir dir;
    TestFrame frame;
    frame.show();
    CIoLogPane& pane = frame.IoLogPane();
    EXPECT_TRUE(MenuHas(frame, "&File", "ioLogAction"));
    EXPECT_TRUE(MenuHas(frame, "&View", "ioLogPaneAction"));
    EXPECT_FALSE(pane.isVisible());
    EXPECT_FALSE(pane.LogAction()->isChecked());

    QString error;
    EXPECT_FALSE(pane.StartLogging(dir.File("missing/x.log").c_str(), false, error));
    EXPECT_TRUE(error.contains("No such file or directory")) << error.toStdString();
    EXPECT_FALSE(pane.LogAction()->isChecked());

    ASSERT_TRUE(pane.StartLogging(dir.File("window.log").c_str(), true, error))
        << error.toStdString();
    EXPECT_TRUE(pane.LogAction()->isChecked());
    pane.toggleViewAction()->trigger();
    EXPECT_TRUE(pane.isVisible());

    EXPECT_TRUE(frame.ConnectTo(sim.SocketResource()));
    const auto shown = [&pane] { return pane.Lines()->toPlainText(); };
    // The lines arrive as queued calls.
    QTRY_VERIFY_WITH_TIMEOUT(shown().contains("text=\"RIGOL TECHNOLOGIES,DS1054Z"), 5000);
    EXPECT_TRUE(shown().contains("op=open status=VI_SUCCESS"));
    EXPECT_TRUE(shown().contains("text=\"*IDN?\\n\""));

    pane.LogAction()->trigger(); // unchecks: stops
    EXPECT_FALSE(pane.LogAction()->isChecked());
    const std::string log = ReadFileText(dir.File("window.log"));
    EXPECT_EQ(log.rfind("# quarvel-io-log 1 data=window.log.data", 0), 0u) << log;
    EXPECT_NE(log.find("op=write status=VI_SUCCESS"), std::string::npos);
    // Stopped: nothing more is written.
    QTest::mouseClick(frame.Get<QPushButton>("connectButton"), Qt::LeftButton);
    EXPECT_EQ(ReadFileText(dir.File("window.log")), log);
}

} // namespace
