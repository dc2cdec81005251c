// The timed capture, with the fake window's timer driven by hand.
#include "tests/capture/sim_bench.h"

#include <gtest/gtest.h>

namespace {

using quarvel::test::SimBench;

const std::string kCaptured =
    "Data capture finished. Screen capture successfully copied to clipboard. ";

class Countdown : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bench.sim.Started());
        ASSERT_TRUE(bench.Connect());
        bench.window.form.saveModeIndex = 1; // clipboard: no files needed
        bench.window.statusTexts.clear();
    }
    int Captures() const { return bench.window.clipboardCalls; }

    SimBench bench{{"--instrument", "infiniivision-x"}};
};

TEST_F(Countdown, CountsDownThenCapturesTheChannelsTickedAtThePress) {
    bench.window.form.captureDelay = 3;
    bench.window.form.tickedChannels = {"CHAN1", "CHAN3"};
    bench.controller.StartOrAbortCapture();
    EXPECT_EQ(bench.window.form.captureButtonCaption, "Abort");
    // Changing the box or the ticks while counting has no effect.
    bench.window.form.captureDelay = 100;
    bench.window.form.tickedChannels = {"CHAN2"};
    bench.controller.OnCountdownTick();
    bench.controller.OnCountdownTick();
    EXPECT_EQ(Captures(), 0);
    EXPECT_EQ(bench.window.statusTexts,
              (std::vector<std::string>{"Capture delay, 3 seconds remaining",
                                        "Capture delay, 2 seconds remaining",
                                        "Capture delay, 1 seconds remaining"}));
    bench.controller.OnCountdownTick();
    EXPECT_EQ(Captures(), 1);
    EXPECT_EQ(bench.window.statusTexts.at(3), "Getting screenshot...");
    EXPECT_EQ(bench.window.LastStatus(), kCaptured);
    EXPECT_FALSE(bench.window.timerRunning);
    EXPECT_EQ(bench.window.form.captureButtonCaption, "Capture screenshot");
    EXPECT_EQ(bench.window.form.CopySelectedChannels(),
              (std::vector<std::string>{"CHAN1", "CHAN3"}));
    // A late tick after the end does nothing.
    bench.controller.OnCountdownTick();
    EXPECT_EQ(Captures(), 1);
}

TEST_F(Countdown, DisconnectEndsTheCountdown) {
    bench.window.form.captureDelay = 2;
    bench.controller.StartOrAbortCapture();
    bench.controller.ToggleConnection();
    EXPECT_EQ(bench.window.LastStatus(), "Instrument disconnected");
    EXPECT_FALSE(bench.controller.IsCountdownRunning());
    for (int i = 0; i < 3; ++i)
        bench.controller.OnCountdownTick();
    EXPECT_EQ(Captures(), 0);
    EXPECT_EQ(bench.window.LastStatus(), "Instrument disconnected");
    // Without a connection the Capture button does nothing.
    bench.controller.StartOrAbortCapture();
    EXPECT_FALSE(bench.window.timerRunning);
    EXPECT_EQ(bench.window.LastStatus(), "Instrument disconnected");
}

} // namespace
