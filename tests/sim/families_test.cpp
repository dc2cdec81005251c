// The simulated families in process: what the driver tests cannot see
// (the ink saver's inversion, the area argument only the older InfiniiVision
// series takes, the analyser's mass memory before its set-up), and the scope's waveform data in
// the reply forms and byte orders of the instruments. The images the drivers
// read are compared byte for byte with the served ones in tests/instr and
// tests/capture/instrument_habits_test.cpp; the analyser's traces are read
// through its driver (tests/instr/fsv_retrieval_test.cpp).

#include "codec/ieee488_block.h"
#include "sim/family_registry.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <QImage>

#include <gtest/gtest.h>

namespace quarvel::sim {
namespace {

std::string Ask(SimInstrument& sim, std::string_view message) {
    return sim.Execute(message).bytes;
}

class Families : public ::testing::Test {
protected:
    static std::unique_ptr<SimInstrument> Make(const std::string& family) {
        auto sim = CreateInstrument(family, {});
        EXPECT_TRUE(sim) << family;
        return sim;
    }
    // The data of the definite block that makes up the whole reply; checks
    // the header's digit count (when not 0) and the trailing LF.
    static std::string BlockData(const std::string& reply, std::size_t digits) {
        visa::BlockHeader h;
        EXPECT_EQ(visa::ParseBlockHeader(reply, h), visa::BlockHeaderResult::Ok);
        EXPECT_TRUE(digits == 0 || h.headerSize == 2 + digits) << h.headerSize;
        EXPECT_EQ(reply.size(), h.headerSize + h.dataLength + 1);
        EXPECT_TRUE(reply.ends_with('\n'));
        return reply.substr(h.headerSize, h.dataLength);
    }
    static QImage Decode(const std::string& png) { return QImage::fromData(png, "PNG"); }
};

TEST_F(Families, InfiniiVisionInkSaverAndTheOlderSeriesArea) {
    auto x = Make("infiniivision-x");
    const std::string png = BlockData(x->Execute(":DISPLAY:DATA? PNG, COLOR").bytes, 8);
    const QImage colour = Decode(png);
    ASSERT_FALSE(colour.isNull());
    EXPECT_EQ(colour.size(), QSize(800, 480));
    EXPECT_FALSE(colour.allGray());

    // The ink saver inverts the picture: a black screen corner becomes white.
    x->Execute(":HARDCOPY:INKSAVER ON");
    const QImage inked = Decode(BlockData(x->Execute(":DISP:DATA? PNG, COLOR").bytes, 8));
    EXPECT_EQ(inked.pixel(400, 240), colour.pixel(400, 240) ^ 0x00FFFFFFu);

    // The area argument exists on the older series only.
    EXPECT_EQ(x->Execute(":DISP:DATA? PNG, SCREEN, COLOR").bytes, "");
    auto old = Make("infiniivision");
    const QImage older =
        Decode(BlockData(old->Execute(":DISPLAY:DATA? PNG, SCREEN, COLOR").bytes, 8));
    EXPECT_EQ(older.size(), QSize(640, 480));
    EXPECT_EQ(old->Execute(":DISP:DATA? JPEG").bytes, "");
    EXPECT_EQ(old->Execute(":SYST:ERR?").bytes, "-224,\"Illegal parameter value\"\n");
}

TEST_F(Families, FsvMassMemoryHasNothingBeforeTheHardcopySetUp) {
    auto sim = Make("fsv");
    const std::string file = "'C:\\r_s\\instr\\user\\hardcopy.png'";
    EXPECT_EQ(sim->Execute(":MMEM:DATA? " + file).bytes, "");
    EXPECT_EQ(sim->Execute(":SYST:ERR?").bytes, "-256,\"File name not found\"\n");
    // :HCOPY before the destination is the mass memory prints nowhere we can read.
    sim->Execute(":MMEM:NAME " + file);
    sim->Execute(":HCOPY");
    EXPECT_EQ(sim->Execute(":SYST:ERR?").bytes, "-221,\"Settings conflict\"\n");
    EXPECT_EQ(sim->Execute(":MMEM:DATA? " + file).bytes, "");
    EXPECT_EQ(sim->Execute(":SYST:ERR?").bytes, "-256,\"File name not found\"\n");

    for (const char* command :
         {":SYSTEM:DISPLAY:UPDATE ON", ":HCOPY:DESTINATION 'MMEM'", ":HCOPY:DEVICE:LANGUAGE PNG",
          ":HCOPY:DEVICE:COLOR ON", ":HCOPY:ITEM:WINDOW:TEXT ''", ":HCOPY:TDSTAMP:STATE OFF",
          ":HCOPY:CMAP:DEFAULT4", ":HCOPY", "*WAI"})
        EXPECT_EQ(sim->Execute(command).bytes, "") << command;
    EXPECT_EQ(sim->PendingErrors(), 0u);
    const std::string png = BlockData(sim->Execute(":MMEM:DATA? " + file).bytes, 0);
    const QImage image = Decode(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(1600, 1200));

    // Another colour map changes the next hardcopy, not the stored file.
    sim->Execute(":HCOPY:CMAP:DEFAULT2");
    EXPECT_TRUE(BlockData(sim->Execute(":MMEM:DATA? " + file).bytes, 0) == png);
    sim->Execute(":HCOPY");
    const std::string inked = BlockData(sim->Execute(":MMEM:DATA? " + file).bytes, 0);
    EXPECT_TRUE(inked != png);
    EXPECT_EQ(Decode(inked).pixel(3, 600), image.pixel(3, 600) ^ 0x00FFFFFFu);
    EXPECT_EQ(sim->Execute(":MMEM:DATA? 'C:\\other.png'").bytes, "");
}

// ---- Waveform data -------------------------------------------------------

// The sample rate, the time range and the display states as the driver
// reads them: infiniivision_retrieval_test.cpp.
TEST_F(Families, WaveformScopeSettingsPreambleAndBlocks) {
    auto scope = Make("infiniivision-x");
    ASSERT_TRUE(scope);
    EXPECT_EQ(Ask(*scope, ":ACQ:TYPE PEAK;:ACQ:TYPE?"), "PEAK\n");

    // 1000 points asked for by default: 0.5 ns apart, centred on the trigger.
    EXPECT_EQ(Ask(*scope, ":WAV:SOUR CHAN1;:WAV:PRE?"),
              "+0,+1,+1000,+1,+5.00000000E-010,-2.50000000E-007,+0,+3.12500000E-002,"
              "+1.25000000E-002,+128\n");

    // Channel 2 is a square wave of three periods per record: over four
    // samples +0.5, -0.5, -0.5, +0.5 V. As bytes: (0.5 - 0.0125) / 0.03125
    // = 15.6 -> 16 steps above 128 = 0x90, and 16 below = 0x70. As words
    // the step is 256 times finer: 3993.6 -> 3994 above 32768 = 0x8F9A.
    ASSERT_EQ(Ask(*scope, ":WAV:SOUR CHAN2;:WAV:POIN 4;:WAV:FORM BYTE"), "");
    EXPECT_EQ(BlockData(Ask(*scope, ":WAV:DATA?"), 0), "\x90\x70\x70\x90");
    ASSERT_EQ(Ask(*scope, ":WAV:FORM WORD;:WAV:BYT LSBF"), "");
    EXPECT_EQ(BlockData(Ask(*scope, ":WAV:DATA?"), 0).substr(0, 2), "\x9A\x8F");
    ASSERT_EQ(Ask(*scope, ":WAV:BYT MSBF"), "");
    EXPECT_EQ(BlockData(Ask(*scope, ":WAV:DATA?"), 0).substr(0, 2), "\x8F\x9A");

    EXPECT_EQ(Ask(*scope, ":STAT? POD1"), ""); // no pods on a DSO
}

TEST_F(Families, WaveformStoppedScopeOffersItsWholeRecord) {
    auto scope = Make("infiniivision"); // MSO7104B
    ASSERT_TRUE(scope);
    EXPECT_EQ(Ask(*scope, ":ACQ:POIN?"), "+62500\n");
    EXPECT_EQ(Ask(*scope, ":SIM:WAV:POIN 8000000;:ACQ:POIN?"), "+62500\n"); // running
    EXPECT_EQ(Ask(*scope, ":STOP;:ACQ:POIN?"), "+8000000\n");
    ASSERT_EQ(Ask(*scope, ":WAV:POIN:MODE RAW;:WAV:POIN 0;:WAV:SOUR POD2;:WAV:FORM BYTE"), "");
    const std::string pod = BlockData(Ask(*scope, ":WAV:DATA?"), 0);
    ASSERT_EQ(pod.size(), 8000000u);
    EXPECT_EQ(static_cast<unsigned char>(pod[0x1234]), 0x12u); // the counter's second byte
    EXPECT_EQ(Ask(*scope, ":SIM:PRE:POIN 9000000;:WAV:PRE?").substr(0, 14), "+0,+0,+9000000");
}

} // namespace
} // namespace quarvel::sim
