// The families of today's benches against their simulated instruments over
// every link the family offers: the screen image byte for byte, the next
// reply clean, no file left on the instrument (a file left after a failed
// read: driver_defined_test.cpp), and Stop/Run/Single telling
// and restoring whether the instrument ran.

#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

struct FamilyCase {
    const char* name; // test name
    const char* persona;
    std::vector<std::string> simArgs;
    std::vector<Lan> links;
    bool filesOnInstrument; // the image goes through a file on its disk
};

const std::vector<Lan> kLanAndUsb = {Lan::Socket, Lan::Vxi11, Lan::Usb};
const std::vector<Lan> kEveryLink = {Lan::Socket, Lan::Vxi11, Lan::Hislip, Lan::Usb};

const FamilyCase kFamilies[] = {
    {"RigolMso5000", "rigol-mso5000", {}, kLanAndUsb, false},
    {"RigolMso8000",
     "rigol-mso5000",
     {"--idn", "RIGOL TECHNOLOGIES,MSO8204,DS8A1,00.02.02"},
     {Lan::Socket},
     false},
    {"RigolDho", "rigol-dho", {}, kLanAndUsb, false},
    {"RigolDho4000",
     "rigol-dho",
     {"--idn", "RIGOL TECHNOLOGIES,DHO4204,DHO4A1,00.01.02"},
     {Lan::Vxi11},
     false},
    {"SiglentHd", "siglent-hd", {}, kLanAndUsb, false},
    {"SiglentXPlus",
     "siglent-hd",
     {"--idn", "Siglent Technologies,SDS2104X Plus,SDS2,1.5.2"},
     {Lan::Socket},
     false},
    {"TekMso", "tek-mso", {}, kEveryLink, true},
    {"TekMso24", "tek-mso", {"--idn", "TEKTRONIX,MSO24,C0,FV:2.0"}, {Lan::Usb}, true},
    {"TekMdo", "tek-mdo", {}, kLanAndUsb, false},
    {"TekDpo", "tek-mdo", {"--idn", "TEKTRONIX,DPO4034,C0,FV:v2.0"}, {Lan::Socket}, false},
    {"TekTbs", "tek-tbs", {"--habit", "hardcopy-delay-ms=300"}, {Lan::Usb}, false},
    {"TekTds2000",
     "tek-tbs",
     {"--idn", "TEKTRONIX,TDS 2024C,C0,CF:91.1CT FV:v24.26", "--habit", "hardcopy-delay-ms=300"},
     {Lan::Usb},
     false},
    // The TBS2000 has a LAN port besides USB.
    {"TekTbs2000",
     "tek-tbs",
     {"--idn", "TEKTRONIX,TBS2104,C0,CF:91.1CT FV:v1.20", "--habit", "hardcopy-delay-ms=300"},
     {Lan::Vxi11, Lan::Socket},
     false},
    {"RsRtb", "rs-rtb", {}, kEveryLink, false},
    {"RsMxo", "rs-rtb", {"--idn", "Rohde&Schwarz,MXO44,1335.5050k44/1,2.1"}, {Lan::Hislip}, false},
    {"RsFsw", "rs-fsw", {}, kEveryLink, true},
    {"RsFpl",
     "rs-fsw",
     {"--idn", "Rohde&Schwarz,FPL1007,1304.0004K07/1,1.90"},
     {Lan::Socket},
     true},
    {"KeysightXsa", "keysight-xsa", {}, kEveryLink, true},
    {"InfiniiVision1000X",
     "infiniivision-x",
     {"--idn", "KEYSIGHT TECHNOLOGIES,DSOX1202G,CN1,2.1"},
     {Lan::Usb, Lan::Socket},
     false},
    {"InfiniiVisionEdu",
     "infiniivision-x",
     {"--idn", "KEYSIGHT TECHNOLOGIES,EDUX1052G,CN1,2.1"},
     {Lan::Usb},
     false},
};

std::vector<std::tuple<FamilyCase, Lan>> AllCases() {
    std::vector<std::tuple<FamilyCase, Lan>> cases;
    for (const FamilyCase& c : kFamilies)
        for (Lan lan : c.links)
            cases.emplace_back(c, lan);
    return cases;
}

class TodaysFamilies : public ::testing::TestWithParam<std::tuple<FamilyCase, Lan>> {};

INSTANTIATE_TEST_SUITE_P(Families, TodaysFamilies, ::testing::ValuesIn(AllCases()),
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

TEST_P(TodaysFamilies, ScreenImageByteForByteAndRunControlRestoresTheState) {
    const auto& [c, lan] = GetParam();
    SimDriver sim(c.persona, lan, c.simArgs);
    ASSERT_TRUE(sim.Ready()) << sim.Sim().Output();
    ASSERT_TRUE(sim.SetSessionTimeout(2000));
    const std::string idn = sim.Connection().GetIdn();
    CInstrLL& driver = sim.Driver();

    // Without and with the ink saver (where the family has one), each image
    // as served.
    ByteBuffer image;
    ByteBuffer inked;
    ASSERT_TRUE(driver.GetScreenshot(image));
    driver.SetInkSaver(true);
    ASSERT_TRUE(driver.GetScreenshot(inked));
    driver.SetInkSaver(false);
    const auto served = sim.ServedImages();
    ASSERT_EQ(served.size(), 2u);
    EXPECT_TRUE(image == served[0]) << image.size() << " bytes, served " << served[0].size();
    EXPECT_TRUE(inked == served[1]) << inked.size() << " bytes, served " << served[1].size();
    EXPECT_EQ(sim.SessionTimeout(), 2000u);
    // Nothing of the image's reply is left for the next one.
    ASSERT_TRUE(sim.Connection().QueryIdn());
    EXPECT_EQ(sim.Connection().GetIdn(), idn);
    if (c.filesOnInstrument) {
        EXPECT_EQ(InstrumentFiles(sim), "");
    }
    sim.TakeTranscript();

    // Running at first: Stop says so, and a second Stop finds it stopped.
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_FALSE(driver.StopInstrument());
    // Run restores a running instrument.
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_FALSE(driver.RunInstrument(false, false));
    EXPECT_FALSE(driver.StopInstrument());
    // Single starts one acquisition, which ends stopped.
    EXPECT_TRUE(driver.RunInstrument(true, true));
    const Lines afterSingle = sim.TakeTranscript();
    EXPECT_FALSE(afterSingle.empty());
}

} // namespace
} // namespace quarvel::test
