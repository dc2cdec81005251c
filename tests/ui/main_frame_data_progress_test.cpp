// The real main window (offscreen) during a capture with waveform data from
// quarvel-sim: while a channel's data comes, the progress bar names that
// channel and how many there are, and the status line names it too.
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt_app_fixture.h"
#include "tests/ui/test_frame.h"

#include <QCheckBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quarvel::test {

TEST(MainFrameDataProgress, TheBarNamesTheChannelWhoseDataComesAndHowManyThereAre) {
    ScopedSettingsDir settings;
    // Two channels of 300 000 points, each read as two pages, sent at 4 MB/s.
    SimProcess sim({"--instrument", "rigol", "--waveform-points", "300000", "--rate", "4000",
                    "--fault-on", ":WAVeform:DATA?"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir shots;
    TestFrame frame;
    frame.show();
    ASSERT_TRUE(frame.ConnectTo(sim.SocketResource())) << frame.Status().toStdString();
    frame.SaveInto(shots.Path());
    frame.Get<QCheckBox>("retrieveWaveformsCheck")->setChecked(true);
    auto* channels = frame.Get<QListWidget>("channelList");
    for (int i = 0; i < channels->count(); ++i) {
        QListWidgetItem* item = channels->item(i);
        const bool wanted = item->text() == "CHAN1" || item->text() == "CHAN2";
        item->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
    }
    // What the bar (its channel) and the status line showed at each step of
    // a data page (a Rigol page's block: 250 000 bytes, or the 50 000 of the
    // last).
    std::uint64_t transferTotal = 0;
    frame.duringTransfer = [&](std::uint64_t, std::uint64_t expected) { transferTotal = expected; };
    std::set<std::pair<std::string, std::string>> shown;
    QObject::connect(frame.TransferBar(), &QProgressBar::valueChanged, [&] {
        const std::string bar = frame.TransferBar()->text().toStdString();
        if (transferTotal == 250000 || transferTotal == 50000)
            shown.emplace(bar.substr(0, bar.find(':')), frame.Status().toStdString());
    });

    frame.Get<QPushButton>("captureButton")->click();

    EXPECT_TRUE(frame.Controller().LastCaptureSucceeded()) << frame.Status().toStdString();
    EXPECT_EQ(FileNamesIn(shots.Path()),
              (std::vector<std::string>{"Screenshot.csv", "Screenshot.png"}));
    EXPECT_EQ(shown, (std::set<std::pair<std::string, std::string>>{
                         {"CHAN1 (1 of 2)", "Getting waveform data for channel CHAN1..."},
                         {"CHAN2 (2 of 2)", "Getting waveform data for channel CHAN2..."}}))
        << ::testing::PrintToString(shown);
    // After the capture the bar shows bare percentages again.
    EXPECT_FALSE(frame.TransferBar()->isVisible());
    EXPECT_EQ(frame.TransferBar()->format(), "%p%");
}

} // namespace quarvel::test
