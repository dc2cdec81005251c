// The Keysight InfiniiVision, InfiniiVision X and Infiniium drivers against
// the simulated instruments, over VXI-11 and the raw socket.

#include "instr/instr_keys_infiniium.h"
#include "instr/instr_keys_infiniivision.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

using Lines = std::vector<std::string>;

class KeysightDriver : public ::testing::TestWithParam<Lan> {};

INSTANTIATE_TEST_SUITE_P(Lan, KeysightDriver, ::testing::Values(Lan::Socket, Lan::Vxi11),
                         [](const auto& info) { return LanName(info.param); });

// Captures once and checks that the bytes appended are the image served.
void ExpectCaptureOfServedImage(SimDriver& sim, ByteBuffer& out, std::size_t servedBefore) {
    const std::size_t before = out.size();
    ASSERT_TRUE(sim.Driver().GetScreenshot(out));
    const auto served = sim.ServedImages();
    ASSERT_EQ(served.size(), servedBefore + 1);
    EXPECT_EQ(ByteBuffer(out.begin() + static_cast<std::ptrdiff_t>(before), out.end()),
              served.back());
}

TEST_P(KeysightDriver, InfiniiVisionScreenshotSendsInkSaverThenTheScreenQuery) {
    SimDriver sim("infiniivision", GetParam());
    ASSERT_TRUE(sim.Ready());
    ASSERT_NE(dynamic_cast<CInstrKeysInfiniiVision*>(&sim.Driver()), nullptr);
    ASSERT_TRUE(sim.SetSessionTimeout(1500));

    ByteBuffer out;
    ExpectCaptureOfServedImage(sim, out, 0);
    EXPECT_EQ(sim.TakeTranscript(),
              (Lines{":HARDCOPY:INKSAVER OFF", ":DISPLAY:DATA? PNG, SCREEN, COLOR"}));
    // The timeout raised for the transfer is set back afterwards.
    EXPECT_EQ(sim.SessionTimeout(), 1500u);

    sim.Driver().SetInkSaver(true);
    ExpectCaptureOfServedImage(sim, out, 1);
    EXPECT_EQ(sim.TakeTranscript(),
              (Lines{":HARDCOPY:INKSAVER ON", ":DISPLAY:DATA? PNG, SCREEN, COLOR"}));
    sim.Driver().SetInkSaver(false);
    ExpectCaptureOfServedImage(sim, out, 2);
    EXPECT_EQ(sim.TakeTranscript().front(), ":HARDCOPY:INKSAVER OFF");

    // Each capture appended its image: the three images follow each other.
    const auto served = sim.ServedImages();
    EXPECT_EQ(out.size(), served[0].size() + served[1].size() + served[2].size());
}

TEST_P(KeysightDriver, InfiniiVisionXDiffersOnlyInTheScreenQuery) {
    SimDriver sim("infiniivision-x", GetParam());
    ASSERT_TRUE(sim.Ready());
    ASSERT_NE(dynamic_cast<CInstrKeysInfiniiVisionX*>(&sim.Driver()), nullptr);
    ByteBuffer out;
    sim.Driver().SetInkSaver(true);
    ExpectCaptureOfServedImage(sim, out, 0);
    EXPECT_EQ(sim.TakeTranscript(), (Lines{":HARDCOPY:INKSAVER ON", ":DISPLAY:DATA? PNG, COLOR"}));

    EXPECT_TRUE(sim.Driver().StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), (Lines{":OPEREGISTER:CONDITION?", ":STOP", "*OPC?"}));
}

TEST_P(KeysightDriver, InfiniiVisionRunControl) {
    SimDriver sim("infiniivision", GetParam());
    ASSERT_TRUE(sim.Ready());
    CInstrLL& driver = sim.Driver();
    const Lines stopSequence = {":OPEREGISTER:CONDITION?", ":STOP", "*OPC?"};

    // Running at start: the Run bit is set, so the stop reports it.
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), stopSequence);
    // Stopped now: the same commands, but nothing to restart.
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), stopSequence);

    EXPECT_FALSE(driver.RunInstrument(false, false));
    EXPECT_FALSE(driver.RunInstrument(false, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});

    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_EQ(sim.TakeTranscript(), Lines{":RUN"});
    EXPECT_TRUE(driver.StopInstrument());
    sim.TakeTranscript();

    EXPECT_TRUE(driver.RunInstrument(true, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{":SINGLE"});
}

TEST_P(KeysightDriver, InfiniiumScreenshotAndRunControl) {
    SimDriver sim("infiniium", GetParam());
    ASSERT_TRUE(sim.Ready());
    CInstrLL& driver = sim.Driver();
    ASSERT_NE(dynamic_cast<CInstrKeysInfiniium*>(&driver), nullptr);
    ASSERT_TRUE(sim.SetSessionTimeout(1700));

    ByteBuffer out;
    ExpectCaptureOfServedImage(sim, out, 0);
    EXPECT_EQ(sim.TakeTranscript(), Lines{":DISPLAY:DATA? PNG, SCREEN, ON, NORMAL"});
    driver.SetInkSaver(true);
    ExpectCaptureOfServedImage(sim, out, 1);
    EXPECT_EQ(sim.TakeTranscript(), Lines{":DISPLAY:DATA? PNG, SCREEN, ON, INVERT"});
    EXPECT_EQ(sim.SessionTimeout(), 1700u);

    const Lines stopSequence = {":RSTATE?", ":STOP", "*OPC?"};
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), stopSequence);
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), stopSequence);

    // A single acquisition that has not triggered is not running either.
    EXPECT_TRUE(driver.RunInstrument(true, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{":SINGLE"});
    EXPECT_FALSE(driver.StopInstrument());
    sim.TakeTranscript();

    EXPECT_FALSE(driver.RunInstrument(false, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_EQ(sim.TakeTranscript(), Lines{":RUN"});
    EXPECT_TRUE(driver.StopInstrument());

    ChannelList channels;
    driver.GetChannelList(channels);
    EXPECT_TRUE(channels.empty());
    EXPECT_FALSE(driver.BeginDataCapture());
}

} // namespace
} // namespace quarvel::test
