// The oscilloscope drivers (Keysight InfiniiVision, InfiniiVision X and
// Infiniium, Rigol DS, Siglent SDS, Tektronix TDS) against the simulated
// instruments, over VXI-11 and the raw socket.

#include "instr/instr_keys_infiniium.h"
#include "instr/instr_keys_infiniivision.h"
#include "instr/instr_rigol_ds.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

class ScopeDriver : public ::testing::TestWithParam<Lan> {};

INSTANTIATE_TEST_SUITE_P(Lan, ScopeDriver, ::testing::Values(Lan::Socket, Lan::Vxi11, Lan::Usb),
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

TEST_P(ScopeDriver, InfiniiVisionScreenshotSendsInkSaverThenTheScreenQuery) {
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
    // Each capture appended its image: the two images follow each other.
    const auto served = sim.ServedImages();
    EXPECT_EQ(out.size(), served[0].size() + served[1].size());
}

TEST_P(ScopeDriver, InfiniiVisionXDiffersOnlyInTheScreenQuery) {
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

// Run control as every family with it shares it: Stop reports whether the
// instrument ran (so that a capture restarts only what it stopped), Run and
// Single send one command and nothing when not asked to.
struct RunControlCase {
    const char* instrument;
    Lines stop;
    bool stoppedStillRuns; // Rigol has no run state to ask: always "was running"
    Lines run;
    Lines single;
};

class RunControl : public ::testing::TestWithParam<std::tuple<RunControlCase, Lan>> {};

INSTANTIATE_TEST_SUITE_P(
    Families, RunControl,
    ::testing::Combine(
        ::testing::Values(
            RunControlCase{"infiniivision",
                           {":OPEREGISTER:CONDITION?", ":STOP", "*OPC?"},
                           false,
                           {":RUN"},
                           {":SINGLE"}},
            RunControlCase{
                "infiniium", {":RSTATE?", ":STOP", "*OPC?"}, false, {":RUN"}, {":SINGLE"}},
            RunControlCase{"rigol", {":STOP", "*OPC?"}, true, {":RUN"}, {":SINGLE"}},
            RunControlCase{
                "siglent", {"TRMD?", "TRMD STOP", "*OPC?"}, false, {"TRMD AUTO"}, {"TRMD SINGLE"}}),
        ::testing::Values(Lan::Socket, Lan::Vxi11, Lan::Usb)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).instrument) + LanName(std::get<1>(info.param));
    });

TEST_P(RunControl, StopTellsWhetherItRanAndRunOrSingleSendOneCommand) {
    const RunControlCase& c = std::get<0>(GetParam());
    SimDriver sim(c.instrument, std::get<1>(GetParam()));
    ASSERT_TRUE(sim.Ready());
    CInstrLL& driver = sim.Driver();

    // Running at start; stopped after, with the same commands.
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), c.stop);
    EXPECT_EQ(driver.StopInstrument(), c.stoppedStillRuns);
    EXPECT_EQ(sim.TakeTranscript(), c.stop);

    EXPECT_FALSE(driver.RunInstrument(false, false));
    EXPECT_FALSE(driver.RunInstrument(false, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_EQ(sim.TakeTranscript(), c.run);
    EXPECT_TRUE(driver.StopInstrument());
    sim.TakeTranscript();
    // A single acquisition that has not triggered is not running either.
    EXPECT_TRUE(driver.RunInstrument(true, true));
    EXPECT_EQ(sim.TakeTranscript(), c.single);
    EXPECT_EQ(driver.StopInstrument(), c.stoppedStillRuns);
}

TEST_P(ScopeDriver, InfiniiumScreenshotAndNoWaveformData) {
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

    ChannelList channels;
    driver.GetChannelList(channels);
    EXPECT_TRUE(channels.empty());
    EXPECT_FALSE(driver.BeginDataCapture());
}

// Two captures, without and with the ink saver; returns their transcripts.
std::pair<Lines, Lines> CaptureTwiceAndCompare(SimDriver& sim) {
    ByteBuffer plain;
    ByteBuffer inked;
    EXPECT_TRUE(sim.Driver().GetScreenshot(plain));
    const Lines plainCommands = sim.TakeTranscript();
    sim.Driver().SetInkSaver(true);
    EXPECT_TRUE(sim.Driver().GetScreenshot(inked));
    const Lines inkedCommands = sim.TakeTranscript();
    sim.Driver().SetInkSaver(false);

    const auto served = sim.ServedImages();
    EXPECT_EQ(served.size(), 2u);
    if (served.size() == 2) {
        EXPECT_EQ(plain, served[0]);
        EXPECT_EQ(inked, served[1]);
    }
    return {plainCommands, inkedCommands};
}

TEST_P(ScopeDriver, RigolScreenshotIgnoresTheInkSaver) {
    SimDriver sim("rigol", GetParam());
    ASSERT_TRUE(sim.Ready());
    ASSERT_NE(dynamic_cast<CInstrRigolDS*>(&sim.Driver()), nullptr);
    ASSERT_TRUE(sim.SetSessionTimeout(1600));
    const auto [plain, inked] = CaptureTwiceAndCompare(sim);
    EXPECT_EQ(plain, Lines{":DISP:DATA?"});
    EXPECT_EQ(inked, Lines{":DISP:DATA?"});
    EXPECT_EQ(sim.SessionTimeout(), 1600u);
    // The 800 x 480 24-bit BMP arrives whole.
    EXPECT_EQ(sim.ServedImages().front().size(), 1152054u);
}

TEST_P(ScopeDriver, SiglentScreenshotIsReadWithTheWhiteSpaceAfterIt) {
    SimDriver sim("siglent", GetParam());
    ASSERT_TRUE(sim.Ready());
    ASSERT_NE(dynamic_cast<CInstrSiglSDS*>(&sim.Driver()), nullptr);
    const auto [plain, inked] = CaptureTwiceAndCompare(sim);
    EXPECT_EQ(plain, Lines{"SCDP"});
    EXPECT_EQ(inked, Lines{"SCDP"});
    // Nothing of the image reply is left to confuse the next query.
    EXPECT_TRUE(sim.Driver().StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), (Lines{"TRMD?", "TRMD STOP", "*OPC?"}));
}

TEST_P(ScopeDriver, SiglentRunRestoresTheTriggerModeItSawRunning) {
    SimDriver sim("siglent", GetParam());
    ASSERT_TRUE(sim.Ready());
    auto& driver = dynamic_cast<CInstrSiglSDS&>(sim.Driver());
    const Lines stopSequence = {"TRMD?", "TRMD STOP", "*OPC?"};

    // "Run" before any stop restores AUTO.
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_EQ(sim.TakeTranscript(), Lines{"TRMD AUTO"});

    ASSERT_EQ(viPrintf(driver.GetSession(), "TRMD NORM\n"), VI_SUCCESS);
    sim.TakeTranscript();
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), stopSequence);
    EXPECT_EQ(driver.GetTriggerMode(), "NORM");

    // Stopped: not running, and the saved mode stays NORM.
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), stopSequence);
    EXPECT_EQ(driver.GetTriggerMode(), "NORM");

    EXPECT_TRUE(driver.RunInstrument(true, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{"TRMD SINGLE"});
    // Single is not a mode to restore either.
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_EQ(driver.GetTriggerMode(), "NORM");
    sim.TakeTranscript();

    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_EQ(sim.TakeTranscript(), Lines{"TRMD NORM"});
    EXPECT_FALSE(driver.RunInstrument(false, false));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});
}

// The hardcopy arrives raw: over VXI-11 ended by END, over the raw socket by
// the line feed after the file, which is not part of the image.
TEST_P(ScopeDriver, TektronixHardcopyCommandsAndRawImage) {
    SimDriver sim("tektronix", GetParam());
    ASSERT_TRUE(sim.Ready());
    ASSERT_NE(dynamic_cast<CInstrTekTDS*>(&sim.Driver()), nullptr);
    ASSERT_TRUE(sim.SetSessionTimeout(1900));
    const auto [plain, inked] = CaptureTwiceAndCompare(sim);
    const auto hardcopy = [](const char* inkSaver) {
        return Lines{"HARDCOPY:FORMAT PNG",
                     "HARDCOPY:LAYOUT PORTRAIT",
                     "HARDCOPY:PORT ETHERNET",
                     "HARDCOPY:PALETTE NORMAL",
                     std::string("HARDCOPY:INKSAVER ") + inkSaver,
                     "HARDCOPY START"};
    };
    EXPECT_EQ(plain, hardcopy("OFF"));
    EXPECT_EQ(inked, hardcopy("ON"));
    EXPECT_EQ(sim.SessionTimeout(), 1900u);

    // No run control: the menu commands send nothing.
    CInstrLL& driver = sim.Driver();
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_FALSE(driver.RunInstrument(true, false));
    EXPECT_FALSE(driver.RunInstrument(true, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});
}

} // namespace
} // namespace quarvel::test
