// The real main window (offscreen) during a capture with waveform data from
// quarvel-sim: while a channel's data comes, the progress bar names that
// channel and how many there are, and the status line names it too.
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt_app_fixture.h"
#include "ui/main_frame.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// Keeps what the bar and the status line showed at each report of a data
// page (a Rigol page's block: 250 000 bytes, or the 50 000 of the last).
class SamplingFrame : public CMainFrame {
public:
    std::set<std::pair<std::string, std::string>> shown; // bar text, status text

    bool TransferProgress(std::uint64_t done, std::uint64_t expected) override {
        const bool answer = CMainFrame::TransferProgress(done, expected);
        if (expected == 250000 || expected == 50000)
            shown.emplace(TransferBar()->text().toStdString(),
                          statusBar()->currentMessage().toStdString());
        return answer;
    }
};

} // namespace

TEST(MainFrameDataProgress, TheBarNamesTheChannelWhoseDataComesAndHowManyThereAre) {
    quarvel::test::ScopedSettingsDir settings;
    // Two channels of 300 000 points, each read as two pages, sent at 4 MB/s.
    quarvel::test::SimProcess sim({"--instrument", "rigol", "--waveform-points", "300000", "--rate",
                                   "4000", "--fault-on", ":WAVeform:DATA?"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    quarvel::test::TempDir shots;
    SamplingFrame frame;
    frame.show();
    frame.findChild<QComboBox*>("visaAddressCombo")
        ->setEditText(QString::fromStdString(sim.SocketResource()));
    frame.findChild<QPushButton*>("connectButton")->click();
    ASSERT_TRUE(frame.Controller().HasDriver())
        << frame.statusBar()->currentMessage().toStdString();
    frame.findChild<QComboBox*>("imageDirCombo")->setEditText(QString::fromStdString(shots.Path()));
    frame.findChild<QCheckBox*>("retrieveWaveformsCheck")->setChecked(true);
    auto* channels = frame.findChild<QListWidget*>("channelList");
    for (int i = 0; i < channels->count(); ++i) {
        QListWidgetItem* item = channels->item(i);
        const bool wanted = item->text() == "CHAN1" || item->text() == "CHAN2";
        item->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
    }

    frame.findChild<QPushButton*>("captureButton")->click();

    EXPECT_TRUE(frame.Controller().LastCaptureSucceeded())
        << frame.statusBar()->currentMessage().toStdString();
    EXPECT_EQ(quarvel::test::FileNamesIn(shots.Path()),
              (std::vector<std::string>{"Screenshot.csv", "Screenshot.png"}));
    std::set<std::pair<std::string, std::string>> channelsShown;
    for (const auto& [bar, status] : frame.shown)
        channelsShown.emplace(bar.substr(0, bar.find(':')), status);
    EXPECT_EQ(channelsShown, (std::set<std::pair<std::string, std::string>>{
                                 {"CHAN1 (1 of 2)", "Getting waveform data for channel CHAN1..."},
                                 {"CHAN2 (2 of 2)", "Getting waveform data for channel CHAN2..."}}))
        << ::testing::PrintToString(frame.shown);
    // After the capture the bar shows bare percentages again.
    EXPECT_FALSE(frame.TransferBar()->isVisible());
    EXPECT_EQ(frame.TransferBar()->format(), "%p%");
}
