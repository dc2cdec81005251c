#include "tests/wavedata/preamble_fields.h"
#include "wavedata/waveform_record.h"

#include <gtest/gtest.h>

#include <vector>

// Fields in the reply's order: format, type, points, count, x increment,
// x origin, x reference, y increment, y origin, y reference. Missing and
// unreadable fields stay zero; numbers end at the first character that does
// not belong to them.
TEST(WaveformPreamble, FieldsInOrderAndZeroWhereUnreadable) {
    const struct {
        const char* text;
        WaveformPreamble expected;
    } cases[] = {
        {"+0,+0,+1000,+1,+2.00000000E-010,-1.00000000E-007,+0,+3.12500000E-002,"
         "+1.25000000E-002,+128\n",
         {0, 0, 1000, 1, 2e-10, -1e-7, 0, 0.03125, 0.0125, 128}},
        // Comma runs and a leading comma are one separator.
        {",+1,,+2,,,+300,+4, +5E-3,-6,+7,+8,+9,-10", {1, 2, 300, 4, 5e-3, -6, 7, 8, 9, -10}},
        // Seven fields: the y scaling is missing.
        {"+0,+0,+4,+1,+1.0E-06,-2.0E-06,+0", {0, 0, 4, 1, 1e-6, -2e-6, 0, 0, 0, 0}},
        // Words, a sign without digits, a negative count, values out of range.
        {"BYTE,+,-5,+99999999999,x1.0,+-2.0,+70000,abc,+1e999999,+3000000000",
         {0, 0, 0, 0, 0, 0, 70000, 0, 0, 0}},
        {"", {}},
        {"+1 junk,+2;,+12abc", {1, 2, 12, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Fields(ParseWaveformPreamble(c.text)), Fields(c.expected)) << c.text;
}

TEST(WaveformConversion, ByteSamplesScaledAndTimeAxisARunningSumFromOrigin) {
    const WaveformPreamble p =
        ParseWaveformPreamble("+0,+0,+4,+1,+1.0E-06,-2.0E-06,+0,+0.5,+1.0,+128");
    const std::vector<std::uint8_t> codes{128, 130, 126, 255};
    WaveformRecord r;
    ConvertSamples(p, codes.data(), 4, false, r);
    ASSERT_EQ(r.x.size(), 4u);
    ASSERT_EQ(r.y.size(), 4u);
    // (code - 128) * 0.5 + 1.0
    EXPECT_EQ(r.y, (std::vector<double>{1.0, 2.0, 0.0, 64.5}));
    // -2E-6, then plus 1E-6 after each sample: a running sum, as the
    // instrument accumulates it (origin + i * increment differs in the last bits).
    const double x1 = -2.0e-6 + 1.0e-6;
    const double x2 = x1 + 1.0e-6;
    EXPECT_EQ(r.x, (std::vector<double>{-2.0e-6, x1, x2, x2 + 1.0e-6}));
    EXPECT_EQ(r.sampleKind, SAMPLE_KIND_DOUBLE);
}

// Words come least significant byte first; a reference at the end of the
// range wraps as a 32-bit difference.
TEST(WaveformConversion, WordSamplesAreLeastSignificantByteFirstAndDifferencesThirtyTwoBit) {
    WaveformPreamble p;
    p.yIncrement = 1.0;
    p.yReference = 0x8000;
    const std::vector<std::uint8_t> codes{0x34, 0x12, 0x00, 0x80, 0xFF, 0xFF};
    WaveformRecord r;
    ConvertSamples(p, codes.data(), 3, true, r);
    EXPECT_EQ(r.y, (std::vector<double>{0x1234 - 0x8000, 0.0, 0xFFFF - 0x8000}));
    p.yReference = -2147483647 - 1;
    ConvertSamples(p, codes.data() + 3, 1, false, r); // the code 0x80
    // 128 - (-2^31) does not fit: as a 32-bit difference it is -2^31 + 128.
    EXPECT_EQ(r.y, std::vector<double>{-2147483648.0 + 128});
}

TEST(NumberReaders, SignsSpacesAndEnds) {
    double real = 0;
    EXPECT_TRUE(ReadLeadingReal("+2.00000000E+09\n", real));
    EXPECT_EQ(real, 2e9);
    EXPECT_TRUE(ReadLeadingReal("  -2.5e-3xyz", real));
    EXPECT_EQ(real, -2.5e-3);
    EXPECT_FALSE(ReadLeadingReal("RATE", real));
    EXPECT_FALSE(ReadLeadingReal("", real));
    EXPECT_FALSE(ReadLeadingReal("+-1", real));
    std::int64_t integer = 0;
    EXPECT_TRUE(ReadLeadingInteger("+1\n", integer));
    EXPECT_EQ(integer, 1);
    EXPECT_TRUE(ReadLeadingInteger("-42.7", integer));
    EXPECT_EQ(integer, -42);
    EXPECT_FALSE(ReadLeadingInteger("ON", integer));
}
