// The simulated waveform data in process: reply forms as the real
// instruments print them, byte orders, block framing and display states.

#include "sim/family_registry.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"
#include "sim/waveform_scpi_number.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

namespace quarvel::sim {
namespace {

std::string Ask(SimInstrument& sim, std::string_view message) {
    return sim.Execute(message).bytes;
}

// Data of a reply made of one definite block and a line feed.
std::string BlockData(const std::string& reply) {
    EXPECT_GE(reply.size(), 3u);
    EXPECT_EQ(reply[0], '#');
    const int digits = reply[1] - '0';
    const std::size_t length = std::stoul(reply.substr(2, static_cast<std::size_t>(digits)));
    EXPECT_EQ(reply.size(), 2 + digits + length + 1);
    EXPECT_EQ(reply.back(), '\n');
    return reply.substr(2 + static_cast<std::size_t>(digits), length);
}

} // namespace

TEST(WaveformSim, RealNumbersInTheInstrumentsForm) {
    EXPECT_EQ(ScpiReal(2e9, 2), "+2.00000000E+09");
    EXPECT_EQ(ScpiReal(2e-10, 3), "+2.00000000E-010");
    EXPECT_EQ(ScpiReal(-1e-7, 3), "-1.00000000E-007");
    EXPECT_EQ(ScpiReal(0.0, 2), "+0.00000000E+00");
    EXPECT_EQ(ScpiInteger(128), "+128");
    EXPECT_EQ(ScpiInteger(-3), "-3");
    EXPECT_EQ(ParseScpiReal("+3.125E-05").value_or(0), 3.125e-5);
    EXPECT_FALSE(ParseScpiReal("1.0V").has_value());
}

TEST(WaveformSim, ScopeSettingsPreambleAndBlocks) {
    EnsureGuiApplication();
    auto scope = CreateInstrument("infiniivision-x", {});
    ASSERT_TRUE(scope);
    EXPECT_EQ(Ask(*scope, ":ACQ:SRAT?"), "+2.00000000E+09\n");
    EXPECT_EQ(Ask(*scope, ":TIM:RANG?"), "+1.00000000E-03\n");
    EXPECT_EQ(Ask(*scope, ":TIM:RANG 2.5E-4;:TIM:RANG?"), "+2.50000000E-04\n");
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
    EXPECT_EQ(BlockData(Ask(*scope, ":WAV:DATA?")), "\x90\x70\x70\x90");
    ASSERT_EQ(Ask(*scope, ":WAV:FORM WORD;:WAV:BYT LSBF"), "");
    EXPECT_EQ(BlockData(Ask(*scope, ":WAV:DATA?")).substr(0, 2), "\x9A\x8F");
    ASSERT_EQ(Ask(*scope, ":WAV:BYT MSBF"), "");
    EXPECT_EQ(BlockData(Ask(*scope, ":WAV:DATA?")).substr(0, 2), "\x8F\x9A");

    // Display states; a two-letter word is no number for :STAT?.
    EXPECT_EQ(Ask(*scope, ":STAT? CHAN3"), "1\n");
    EXPECT_EQ(Ask(*scope, ":CHAN3:DISP OFF;:STAT? CHANnel3"), "0\n");
    EXPECT_EQ(Ask(*scope, ":SIM:STAT:FAIL 'CHAN1';:STAT? CHAN1"), "STATUS?\n");
    EXPECT_EQ(Ask(*scope, ":STAT? POD1"), ""); // no pods on a DSO
}

TEST(WaveformSim, StoppedScopeOffersItsWholeRecord) {
    EnsureGuiApplication();
    auto scope = CreateInstrument("infiniivision", {}); // MSO7104B
    ASSERT_TRUE(scope);
    EXPECT_EQ(Ask(*scope, ":ACQ:POIN?"), "+62500\n");
    EXPECT_EQ(Ask(*scope, ":SIM:WAV:POIN 8000000;:ACQ:POIN?"), "+62500\n"); // running
    EXPECT_EQ(Ask(*scope, ":STOP;:ACQ:POIN?"), "+8000000\n");
    ASSERT_EQ(Ask(*scope, ":WAV:POIN:MODE RAW;:WAV:POIN 0;:WAV:SOUR POD2;:WAV:FORM BYTE"), "");
    const std::string pod = BlockData(Ask(*scope, ":WAV:DATA?"));
    ASSERT_EQ(pod.size(), 8000000u);
    EXPECT_EQ(static_cast<unsigned char>(pod[0x1234]), 0x12u); // the counter's second byte
    EXPECT_EQ(Ask(*scope, ":SIM:PRE:POIN 9000000;:WAV:PRE?").substr(0, 14), "+0,+0,+9000000");
}

TEST(WaveformSim, AnalyserTracesAsFloat32Blocks) {
    EnsureGuiApplication();
    auto fsv = CreateInstrument("fsv", {});
    ASSERT_TRUE(fsv);
    EXPECT_EQ(Ask(*fsv, "DISP:WIND1:TRAC1:STAT?"), "1\n");
    EXPECT_EQ(Ask(*fsv, "DISPLAY:WINDOW1:TRACE3:STATE?"), "0\n");
    ASSERT_EQ(Ask(*fsv, "FORMAT:DATA REAL, 32"), "");
    const std::string reply = Ask(*fsv, "TRACE:DATA:X? TRACE1");
    ASSERT_EQ(reply.substr(0, 6), "#42764"); // 691 values
    const std::string x = BlockData(reply);
    std::uint32_t bits = 0;
    std::memcpy(&bits, x.data(), 4); // the test host is little-endian like the block
    EXPECT_EQ(std::bit_cast<float>(bits), 1.0e6f);
    EXPECT_EQ(BlockData(Ask(*fsv, "TRAC? TRACE2")).size(), 2764u);
    EXPECT_EQ(Ask(*fsv, "DISP:TRAC2:MODE?"), "AVER\n");
    EXPECT_EQ(Ask(*fsv, "SENS:AVER:TYPE?"), "VID\n");
    EXPECT_EQ(Ask(*fsv, "SENSE:WINDOW:DETECTOR2:FUNCTION?"), "RMS\n");
    EXPECT_EQ(Ask(*fsv, "UNIT:POW DBUV;UNIT:POWER?"), "DBUV\n");
    EXPECT_EQ(Ask(*fsv, ":SIM:TRAC:LEV:BLOC '#216',16;TRACE:DATA? TRACE1").substr(0, 4), "#216");
}

} // namespace quarvel::sim
