// Every family with its own driver against its simulated instrument over
// every link the family offers: the screen images byte for byte, each
// capture appended to what the buffer holds, the ink saver asked for where
// the family has one, the next reply clean, no file left on the instrument (a
// file left after a failed read: driver_defined_test.cpp), and Stop/Run/Single
// telling and restoring whether the instrument ran.

#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

// What sets a family apart from the plain one (an image read straight away,
// an ink saver that changes it, Stop asking the run state).
enum Traits : unsigned {
    kPlain = 0,
    kFile = 1,         // the image goes through a file on the instrument's disk
    kNoInk = 2,        // the ink saver leaves the image as it is
    kRunsAlways = 4,   // no run state to ask (Rigol DS): Stop always says "it ran"
    kNoRunControl = 8, // Tektronix TDS, R&S FSV: Stop/Run/Single send nothing
    kWaits = 16,       // a single acquisition waiting for its trigger counts as
                       // running (the definitions' choice: docs/design.md)
};

struct FamilyCase {
    const char* name; // test name
    const char* persona;
    std::vector<std::string> simArgs;
    std::vector<Lan> links;
    unsigned traits;
};

const std::vector<Lan> kLanAndUsb = {Lan::Socket, Lan::Vxi11, Lan::Usb};
const std::vector<Lan> kEveryLink = {Lan::Socket, Lan::Vxi11, Lan::Hislip, Lan::Usb};

// Siglent SDS's BMP comes with white space after it, Tektronix TDS's
// hardcopy raw, over the raw socket ended by a line feed that is not part of
// the image; the FSV's hardcopy file as a block after a one-time set-up.
const FamilyCase kFamilies[] = {
    {"InfiniiVision", "infiniivision", {}, kEveryLink, kPlain},
    {"InfiniiVisionX", "infiniivision-x", {}, kEveryLink, kPlain},
    {"Infiniium", "infiniium", {}, kEveryLink, kPlain},
    {"RigolDs", "rigol", {}, kEveryLink, kNoInk | kRunsAlways},
    {"SiglentSds", "siglent", {}, kEveryLink, kNoInk},
    {"TekTds", "tektronix", {}, kEveryLink, kNoRunControl},
    {"RsFsv", "fsv", {}, kEveryLink, kNoRunControl},
    {"RigolMso5000", "rigol-mso5000", {}, kLanAndUsb, kNoInk | kWaits},
    {"RigolMso8000",
     "rigol-mso5000",
     {"--idn", "RIGOL TECHNOLOGIES,MSO8204,DS8A1,00.02.02"},
     {Lan::Socket},
     kNoInk | kWaits},
    {"RigolDho", "rigol-dho", {}, kLanAndUsb, kNoInk | kWaits},
    {"RigolDho4000",
     "rigol-dho",
     {"--idn", "RIGOL TECHNOLOGIES,DHO4204,DHO4A1,00.01.02"},
     {Lan::Vxi11},
     kNoInk | kWaits},
    {"SiglentHd", "siglent-hd", {}, kLanAndUsb, kNoInk | kWaits},
    {"SiglentXPlus",
     "siglent-hd",
     {"--idn", "Siglent Technologies,SDS2104X Plus,SDS2,1.5.2"},
     {Lan::Socket},
     kNoInk | kWaits},
    {"TekMso", "tek-mso", {}, kEveryLink, kFile | kWaits},
    {"TekMso24", "tek-mso", {"--idn", "TEKTRONIX,MSO24,C0,FV:2.0"}, {Lan::Usb}, kFile | kWaits},
    {"TekMdo", "tek-mdo", {}, kLanAndUsb, kWaits},
    {"TekDpo", "tek-mdo", {"--idn", "TEKTRONIX,DPO4034,C0,FV:v2.0"}, {Lan::Socket}, kWaits},
    {"TekTbs", "tek-tbs", {"--habit", "hardcopy-delay-ms=300"}, {Lan::Usb}, kNoInk | kWaits},
    {"TekTds2000",
     "tek-tbs",
     {"--idn", "TEKTRONIX,TDS 2024C,C0,CF:91.1CT FV:v24.26", "--habit", "hardcopy-delay-ms=300"},
     {Lan::Usb},
     kNoInk | kWaits},
    // The TBS2000 has a LAN port besides USB.
    {"TekTbs2000",
     "tek-tbs",
     {"--idn", "TEKTRONIX,TBS2104,C0,CF:91.1CT FV:v1.20", "--habit", "hardcopy-delay-ms=300"},
     {Lan::Vxi11, Lan::Socket},
     kNoInk | kWaits},
    {"RsRtb", "rs-rtb", {}, kEveryLink, kNoInk | kWaits},
    {"RsMxo",
     "rs-rtb",
     {"--idn", "Rohde&Schwarz,MXO44,1335.5050k44/1,2.1"},
     {Lan::Hislip},
     kNoInk | kWaits},
    {"RsFsw", "rs-fsw", {}, kEveryLink, kFile | kNoInk},
    {"RsFpl",
     "rs-fsw",
     {"--idn", "Rohde&Schwarz,FPL1007,1304.0004K07/1,1.90"},
     {Lan::Socket},
     kFile | kNoInk},
    {"KeysightXsa", "keysight-xsa", {}, kEveryLink, kFile | kNoInk},
    {"InfiniiVision1000X",
     "infiniivision-x",
     {"--idn", "KEYSIGHT TECHNOLOGIES,DSOX1202G,CN1,2.1"},
     {Lan::Usb, Lan::Socket},
     kPlain},
    {"InfiniiVisionEdu",
     "infiniivision-x",
     {"--idn", "KEYSIGHT TECHNOLOGIES,EDUX1052G,CN1,2.1"},
     {Lan::Usb},
     kPlain},
};

std::vector<std::tuple<FamilyCase, Lan>> AllCases() {
    std::vector<std::tuple<FamilyCase, Lan>> cases;
    for (const FamilyCase& c : kFamilies)
        for (Lan lan : c.links)
            cases.emplace_back(c, lan);
    return cases;
}

class EveryFamily : public ::testing::TestWithParam<std::tuple<FamilyCase, Lan>> {};

INSTANTIATE_TEST_SUITE_P(Families, EveryFamily, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    LanName(std::get<1>(info.param));
                         });

// The files on the simulated instrument's disk, as its test query lists them.
std::string InstrumentFiles(SimDriver& sim) {
    char reply[256] = {};
    if (viQueryf(sim.Connection().GetSession(), ":SIMulator:FILes?\n", "%t", reply) != VI_SUCCESS)
        return "(no answer)";
    std::string files = reply;
    while (!files.empty() && (files.back() == '\n' || files.back() == '\r'))
        files.pop_back();
    return files;
}

TEST_P(EveryFamily, ScreenImageByteForByteAndRunControlRestoresTheState) {
    const auto& [c, lan] = GetParam();
    SimDriver sim(c.persona, lan, c.simArgs);
    ASSERT_TRUE(sim.Ready()) << sim.Sim().Output();
    ASSERT_TRUE(sim.SetSessionTimeout(2000));
    const std::string idn = sim.Connection().GetIdn();
    CInstrLL& driver = sim.Driver();

    // Without the ink saver, with it, and without again: each capture
    // appends the image as served.
    ByteBuffer out = {0xAA};
    for (bool inkSaver : {false, true, false}) {
        driver.SetInkSaver(inkSaver);
        ASSERT_TRUE(driver.GetScreenshot(out));
    }
    const auto served = sim.ServedImages();
    ASSERT_EQ(served.size(), 3u);
    EXPECT_EQ(served[0] == served[1], (c.traits & kNoInk) != 0)
        << "the ink saver asked for or left alone";
    EXPECT_TRUE(served[2] == served[0]) << "the ink saver left on";
    ByteBuffer all = {0xAA};
    for (const auto& image : served)
        all.insert(all.end(), image.begin(), image.end());
    EXPECT_TRUE(out == all) << out.size() << " bytes, served " << all.size();
    // The timeout raised for the transfer is set back afterwards.
    EXPECT_EQ(sim.SessionTimeout(), 2000u);
    // Nothing of the image's reply is left for the next one.
    ASSERT_TRUE(sim.Connection().QueryIdn());
    EXPECT_EQ(sim.Connection().GetIdn(), idn);
    if (c.traits & kFile) {
        EXPECT_EQ(InstrumentFiles(sim), "");
    }
    sim.TakeTranscript();

    // Running at first: Stop says so, and a second Stop finds it stopped.
    const bool has = !(c.traits & kNoRunControl);
    const bool stoppedRuns = (c.traits & kRunsAlways) != 0;
    EXPECT_EQ(driver.StopInstrument(), has);
    EXPECT_EQ(driver.StopInstrument(), stoppedRuns);
    EXPECT_EQ(sim.TakeTranscript().empty(), !has);
    // Not asked to run again: nothing is sent.
    EXPECT_FALSE(driver.RunInstrument(false, false));
    EXPECT_FALSE(driver.RunInstrument(false, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});
    // Run restores a running instrument.
    EXPECT_EQ(driver.RunInstrument(true, false), has);
    EXPECT_EQ(driver.StopInstrument(), has);
    // Single starts one acquisition, which ends stopped (one that has not
    // triggered is not running either).
    EXPECT_EQ(driver.RunInstrument(true, true), has);
    EXPECT_EQ(sim.TakeTranscript().empty(), !has);
    EXPECT_EQ(driver.StopInstrument(), stoppedRuns || (c.traits & kWaits) != 0);
}

} // namespace
} // namespace quarvel::test
