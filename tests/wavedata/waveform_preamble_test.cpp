#include "wavedata/waveform_preamble.h"
#include "wavedata/waveform_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST(WaveformPreamble, RealReplyForm) {
    const WaveformPreamble p = ParseWaveformPreamble(
        "+0,+0,+1000,+1,+2.00000000E-010,-1.00000000E-007,+0,+3.12500000E-002,"
        "+1.25000000E-002,+128\n");
    EXPECT_EQ(p.formatCode, 0);
    EXPECT_EQ(p.typeCode, 0);
    EXPECT_EQ(p.points, 1000u);
    EXPECT_EQ(p.count, 1u);
    EXPECT_DOUBLE_EQ(p.xIncrement, 2e-10);
    EXPECT_DOUBLE_EQ(p.xOrigin, -1e-7);
    EXPECT_EQ(p.xReference, 0u);
    EXPECT_DOUBLE_EQ(p.yIncrement, 0.03125);
    EXPECT_DOUBLE_EQ(p.yOrigin, 0.0125);
    EXPECT_EQ(p.yReference, 128);
}

TEST(WaveformPreamble, CommaRunsAndLeadingCommaAreOneSeparator) {
    const WaveformPreamble p = ParseWaveformPreamble(",+1,,+2,,,+300,+4, +5E-3,-6,+7,+8,+9,-10");
    EXPECT_EQ(p.formatCode, 1);
    EXPECT_EQ(p.typeCode, 2);
    EXPECT_EQ(p.points, 300u);
    EXPECT_DOUBLE_EQ(p.xIncrement, 5e-3);
    EXPECT_EQ(p.yReference, -10);
}

TEST(WaveformPreamble, MissingAndUnreadableFieldsStayZero) {
    // Seven fields: the y scaling is missing.
    WaveformPreamble p = ParseWaveformPreamble("+0,+0,+4,+1,+1.0E-06,-2.0E-06,+0");
    EXPECT_EQ(p.points, 4u);
    EXPECT_DOUBLE_EQ(p.xOrigin, -2e-6);
    EXPECT_EQ(p.yIncrement, 0.0);
    EXPECT_EQ(p.yOrigin, 0.0);
    EXPECT_EQ(p.yReference, 0);

    // Words, a sign without digits, a negative count, values out of range.
    p = ParseWaveformPreamble("BYTE,+,-5,+99999999999,x1.0,+-2.0,+70000,abc,+1e999999,+3000000000");
    EXPECT_EQ(p.formatCode, 0);
    EXPECT_EQ(p.points, 0u);
    EXPECT_EQ(p.count, 0u);
    EXPECT_EQ(p.xIncrement, 0.0);
    EXPECT_EQ(p.xOrigin, 0.0);
    EXPECT_EQ(p.xReference, 70000u);
    EXPECT_EQ(p.yOrigin, 0.0);
    EXPECT_EQ(p.yReference, 0);

    p = ParseWaveformPreamble("");
    EXPECT_EQ(p.points, 0u);
    // Numbers end at the first character that does not belong to them.
    p = ParseWaveformPreamble("+1 junk,+2;,+12abc");
    EXPECT_EQ(p.formatCode, 1);
    EXPECT_EQ(p.typeCode, 2);
    EXPECT_EQ(p.points, 12u);
}

TEST(WaveformConversion, ByteSamplesScaledAndTimeAxisFromOrigin) {
    const WaveformPreamble p =
        ParseWaveformPreamble("+0,+0,+4,+1,+1.0E-06,-2.0E-06,+0,+0.5,+1.0,+128");
    const std::vector<std::uint8_t> codes{128, 130, 126, 255};
    WaveformRecord r;
    ConvertSamples(p, codes.data(), 4, false, r);
    ASSERT_EQ(r.x.size(), 4u);
    ASSERT_EQ(r.y.size(), 4u);
    // (code - 128) * 0.5 + 1.0
    EXPECT_EQ(r.y, (std::vector<double>{1.0, 2.0, 0.0, 64.5}));
    // -2E-6, then plus 1E-6 after each sample.
    const double x1 = -2.0e-6 + 1.0e-6;
    const double x2 = x1 + 1.0e-6;
    EXPECT_EQ(r.x, (std::vector<double>{-2.0e-6, x1, x2, x2 + 1.0e-6}));
    EXPECT_EQ(r.sampleKind, SAMPLE_KIND_DOUBLE);
}

TEST(WaveformConversion, TimeAxisIsARunningSum) {
    WaveformPreamble p;
    p.xIncrement = 0.1;
    const std::vector<std::uint8_t> codes(11, 0);
    WaveformRecord r;
    ConvertSamples(p, codes.data(), codes.size(), false, r);
    // Ten additions of 0.1 fall just short of 1.0; 10 * 0.1 does not.
    double sum = 0.0;
    for (int i = 0; i < 10; ++i) {
        sum += 0.1;
    }
    EXPECT_EQ(r.x[10], sum);
    EXPECT_NE(r.x[10], 10 * 0.1);
}

TEST(WaveformConversion, WordSamplesAreLeastSignificantByteFirst) {
    WaveformPreamble p;
    p.yIncrement = 1.0;
    p.yReference = 0x8000;
    const std::vector<std::uint8_t> codes{0x34, 0x12, 0x00, 0x80, 0xFF, 0xFF};
    WaveformRecord r;
    ConvertSamples(p, codes.data(), 3, true, r);
    EXPECT_EQ(r.y, (std::vector<double>{0x1234 - 0x8000, 0.0, 0xFFFF - 0x8000}));
}

TEST(WaveformConversion, ExtremeReferenceWrapsAsThirtyTwoBitDifference) {
    WaveformPreamble p;
    p.yIncrement = 1.0;
    p.yReference = -2147483647 - 1;
    const std::uint8_t code = 1;
    WaveformRecord r;
    ConvertSamples(p, &code, 1, false, r);
    // 1 - (-2^31) does not fit: as a 32-bit difference it is -2^31 + 1.
    EXPECT_EQ(r.y[0], -2147483647.0);
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
