// The oscilloscope drivers (Keysight InfiniiVision, InfiniiVision X and
// Infiniium, Rigol DS, Siglent SDS, Tektronix TDS) against the simulated
// instruments, over every link.

#include "instr/instr_keys_infiniium.h"
#include "instr/instr_rigol_ds.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quarvel::test {
namespace {

// One family's screen capture, and whether its ink saver changes the image
// (Rigol and Siglent have none; Siglent's BMP comes with white space after
// it, Tektronix's hardcopy raw, over the raw socket ended by a line feed that
// is not part of the image).
struct ScreenCase {
    const char* instrument;
    bool inkSaver;
};

const ScreenCase kScreens[] = {
    {"infiniivision", true}, {"infiniivision-x", true}, {"infiniium", true},
    {"rigol", false},        {"siglent", false},        {"tektronix", true},
};

class ScopeScreen : public ::testing::TestWithParam<std::tuple<ScreenCase, Lan>> {};

INSTANTIATE_TEST_SUITE_P(Families, ScopeScreen,
                         ::testing::Combine(::testing::ValuesIn(kScreens),
                                            ::testing::Values(Lan::Socket, Lan::Vxi11, Lan::Hislip,
                                                              Lan::Usb)),
                         [](const auto& info) {
                             std::string name = std::get<0>(info.param).instrument;
                             std::erase(name, '-');
                             return name + LanName(std::get<1>(info.param));
                         });

TEST_P(ScopeScreen, EachCaptureAppendsTheServedImageAndTheNextReplyIsClean) {
    const ScreenCase& c = std::get<0>(GetParam());
    SimDriver sim(c.instrument, std::get<1>(GetParam()));
    ASSERT_TRUE(sim.Ready());
    ASSERT_TRUE(sim.SetSessionTimeout(1500));
    const std::string idn = sim.Connection().GetIdn();

    ByteBuffer out;
    ASSERT_TRUE(sim.Driver().GetScreenshot(out));
    sim.Driver().SetInkSaver(true);
    ASSERT_TRUE(sim.Driver().GetScreenshot(out));
    // The timeout raised for the transfer is set back afterwards.
    EXPECT_EQ(sim.SessionTimeout(), 1500u);
    // The two images, byte for byte, one after the other.
    const auto served = sim.ServedImages();
    ASSERT_EQ(served.size(), 2u);
    EXPECT_EQ(served[0] != served[1], c.inkSaver) << "the ink saver asked for or left alone";
    ByteBuffer both = served[0];
    both.insert(both.end(), served[1].begin(), served[1].end());
    EXPECT_TRUE(out == both) << out.size() << " bytes";
    ASSERT_TRUE(sim.Connection().QueryIdn());
    EXPECT_EQ(sim.Connection().GetIdn(), idn);
}

// The data channels each family offers, from the model's name: two-channel
// models end their number in 2.
TEST(ScopeDrivers, OfferTheChannelsOfTheModel) {
    struct Case {
        std::function<std::unique_ptr<CInstrLL>()> make;
        const char* model;
        ChannelList channels;
    };
    const auto rigol = [] { return std::make_unique<CInstrRigolDS>(); };
    const auto siglent = [] { return std::make_unique<CInstrSiglSDS>(); };
    const auto tek = [] { return std::make_unique<CInstrTekTDS>(); };
    const Case cases[] = {
        {rigol, "DS1054Z", {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
        {rigol, "MSO1104Z-S", {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
        {rigol, "DS1202Z-E", {"CHAN1", "CHAN2"}},
        {rigol, "DS2102A", {"CHAN1", "CHAN2"}},
        {siglent, "SDS1104X-E", {"C1", "C2", "C3", "C4"}},
        {siglent, "SDS1202X-E", {"C1", "C2"}},
        {tek, "TDS 3034B", {"CH1", "CH2", "CH3", "CH4"}},
        {tek, "TDS 3012B", {"CH1", "CH2"}},
        {[] { return std::make_unique<CInstrKeysInfiniium>(); },
         "DSO9254A",
         {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<CInstrLL> driver = c.make();
        driver->SetModel(c.model);
        ChannelList channels;
        driver->GetChannelList(channels);
        EXPECT_EQ(channels, c.channels) << c.model;
    }
}

// Run control as every family with it shares it, told by what the next Stop
// finds: Stop reports whether the instrument ran (so that a capture restarts
// only what it stopped), Run starts it again, Single leaves it stopped once
// its acquisition is over, and neither sends anything when not asked to.
// Tektronix has none.
struct RunControlCase {
    const char* instrument;
    bool hasRunControl;
    bool stoppedStillRuns; // Rigol has no run state to ask: always "was running"
};

class RunControl : public ::testing::TestWithParam<std::tuple<RunControlCase, Lan>> {};

INSTANTIATE_TEST_SUITE_P(
    Families, RunControl,
    ::testing::Combine(::testing::Values(RunControlCase{"infiniivision", true, false},
                                         RunControlCase{"infiniium", true, false},
                                         RunControlCase{"rigol", true, true},
                                         RunControlCase{"siglent", true, false},
                                         RunControlCase{"tektronix", false, false}),
                       ::testing::Values(Lan::Socket, Lan::Vxi11, Lan::Usb)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).instrument) + LanName(std::get<1>(info.param));
    });

TEST_P(RunControl, StopTellsWhetherItRanAndRunOrSingleStartIt) {
    const RunControlCase& c = std::get<0>(GetParam());
    SimDriver sim(c.instrument, std::get<1>(GetParam()));
    ASSERT_TRUE(sim.Ready());
    CInstrLL& driver = sim.Driver();

    // Running at start; stopped after.
    EXPECT_EQ(driver.StopInstrument(), c.hasRunControl);
    EXPECT_EQ(driver.StopInstrument(), c.stoppedStillRuns);
    sim.TakeTranscript();
    EXPECT_FALSE(driver.RunInstrument(false, false));
    EXPECT_FALSE(driver.RunInstrument(false, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});
    EXPECT_EQ(driver.RunInstrument(true, false), c.hasRunControl);
    EXPECT_EQ(driver.StopInstrument(), c.hasRunControl);
    // A single acquisition that has not triggered is not running either.
    EXPECT_EQ(driver.RunInstrument(true, true), c.hasRunControl);
    EXPECT_EQ(driver.StopInstrument(), c.stoppedStillRuns);
}

// The driver's own memory of the mode, the same over every link.
TEST(SiglentRunControl, RunRestoresTheTriggerModeItSawRunning) {
    SimDriver sim("siglent", Lan::Socket);
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
    // Stopped: not running, and the saved mode stays NORM.
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_EQ(driver.GetTriggerMode(), "NORM");

    EXPECT_TRUE(driver.RunInstrument(true, true));
    EXPECT_EQ(sim.TakeTranscript(), (Lines{"TRMD?", "TRMD STOP", "*OPC?", "TRMD SINGLE"}));
    // Single is not a mode to restore either.
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_EQ(driver.GetTriggerMode(), "NORM");
    sim.TakeTranscript();
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_EQ(sim.TakeTranscript(), Lines{"TRMD NORM"});
}

} // namespace
} // namespace quarvel::test
