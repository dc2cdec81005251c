// The Rigol DS, Siglent SDS and Tektronix TDS drivers against the simulated
// instruments, over VXI-11 and the raw socket.

#include "instr/instr_rigol_ds.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

using Lines = std::vector<std::string>;

class OtherScopeDriver : public ::testing::TestWithParam<Lan> {};

INSTANTIATE_TEST_SUITE_P(Lan, OtherScopeDriver, ::testing::Values(Lan::Socket, Lan::Vxi11),
                         [](const auto& info) { return LanName(info.param); });

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

TEST_P(OtherScopeDriver, RigolScreenshotIgnoresTheInkSaver) {
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

TEST_P(OtherScopeDriver, RigolStopAlwaysReportsRunning) {
    SimDriver sim("rigol", GetParam());
    ASSERT_TRUE(sim.Ready());
    CInstrLL& driver = sim.Driver();
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), (Lines{":STOP", "*OPC?"}));
    // Already stopped, still "was running": the capture will restart it.
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_EQ(sim.TakeTranscript(), (Lines{":STOP", "*OPC?"}));

    EXPECT_FALSE(driver.RunInstrument(false, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_TRUE(driver.RunInstrument(true, true));
    EXPECT_EQ(sim.TakeTranscript(), (Lines{":RUN", ":SINGLE"}));
}

TEST_P(OtherScopeDriver, SiglentScreenshotIsReadWithTheWhiteSpaceAfterIt) {
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

TEST_P(OtherScopeDriver, SiglentRunRestoresTheTriggerModeItSawRunning) {
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
TEST_P(OtherScopeDriver, TektronixHardcopyCommandsAndRawImage) {
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
