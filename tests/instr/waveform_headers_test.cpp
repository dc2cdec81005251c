// The strict parsers of the families' waveform headers refuse what they
// could not size a transfer or scale data with, saying why, and read the
// forms real instruments send: the Rohde & Schwarz data header (four plain
// numbers within their ranges), the Siglent HD descriptor, and the Tektronix
// preamble read by field name (instr/tek_preamble.h) with the widths the
// curve decoder can take; also the channel count a Tektronix model's name
// gives (instr/scope_models.h). What they accept is checked end to end by the
// persona table of tests/cli/cli_scope_waveforms_test.cpp.

#include "instr/rs_data_header.h"
#include "instr/scope_models.h"
#include "instr/siglent_wavedesc.h"
#include "instr/tek_preamble.h"
#include "wavedata/waveform_preamble.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace quarvel::wavedata {
namespace {

TEST(RsDataHeader, ReadsTheManualsFormsAndRefusesAnythingElse) {
    struct Case {
        const char* text;
        bool ok;
        const char* whyStart; // accepted: unused
    };
    const Case cases[] = {
        {"-9.477E-008,9.477E-008,120000,1", true, ""},
        {" -5E-008 , +5E-008 , 1000 , 2 \n", true, ""},
        {"-4.99800000E-007,+5.00000000E-007,0,1", true, ""}, // a channel that is off
        {"-1,1,1000", false, "the data header '-1,1,1000' has 3 fields, not 4"},
        {"-1,1,1000,1,7", false, "the data header '-1,1,1000,1,7' has more than 4 fields"},
        {"-1,1,1000pts,1", false, "the data header '-1,1,1000pts,1' has no number in field 3"},
        {"nan,1,1000,1", false, "the data header 'nan,1,1000,1' has no number in field 1"},
        {"-1,1,,1", false, "the data header '-1,1,,1' has no number in field 3"},
        {"-1,1,1000.5,1", false, "the data header '-1,1,1000.5,1' announces a record length"},
        {"-1,1,1e12,1", false, "the data header '-1,1,1e12,1' announces a record length"},
        {"-1,1,-3,1", false, "the data header '-1,1,-3,1' announces a record length"},
        {"-1,1,1000,3", false, "the data header '-1,1,1000,3' gives a number of values per sample"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RsDataHeader header;
        std::string why;
        EXPECT_EQ(ParseRsDataHeader(c.text, header, why), c.ok);
        if (!c.ok) {
            EXPECT_EQ(why.rfind(c.whyStart, 0), 0u) << why;
        }
    }
    RsDataHeader header;
    std::string why;
    ASSERT_TRUE(ParseRsDataHeader(" -5E-008 , +5E-008 , 1000 , 2 \n", header, why));
    EXPECT_EQ(header.xStart, -5e-8);
    EXPECT_EQ(header.xStop, 5e-8);
    EXPECT_EQ(header.length, 1000u);
    EXPECT_EQ(header.valuesPerSample, 2u);
}

using Bytes = std::vector<std::uint8_t>;

template <typename T> void Put(Bytes& d, std::size_t at, T value) {
    std::memcpy(d.data() + at, &value, sizeof value); // little-endian test hosts only
}

// A 12-bit WORD descriptor as the SDS2000X HD example reads it.
Bytes Valid() {
    Bytes d(346, 0);
    std::memcpy(d.data(), "WAVEDESC", 8);
    Put<std::int16_t>(d, 32, 1);
    Put<std::int32_t>(d, 36, 346);
    Put<std::int32_t>(d, 116, 1000);
    Put<float>(d, 156, 0.1F);
    Put<float>(d, 160, -0.05F);
    Put<float>(d, 164, 7680.0F);
    Put<std::int16_t>(d, 172, 12);
    Put<float>(d, 176, 1e-9F);
    Put<double>(d, 180, 2e-6);
    Put<float>(d, 328, 10.0F);
    return d;
}

TEST(SiglentWaveDesc, RefusesWhatCannotScaleData) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* what;
        std::function<void(Bytes&)> spoil;
        const char* reason;
    } cases[] = {
        {"short", [](Bytes& d) { d.resize(345); }, "has 345 bytes, not 346"},
        {"unnamed", [](Bytes& d) { d[7] = 'X'; }, "no WAVEDESC name"},
        {"length field", [](Bytes& d) { Put<std::int32_t>(d, 36, 400); }, "length as 400"},
        {"sample type", [](Bytes& d) { Put<std::int16_t>(d, 32, 2); }, "sample type 2"},
        {"no points", [](Bytes& d) { Put<std::int32_t>(d, 116, 0); }, "announces 0 points"},
        {"too many points", [](Bytes& d) { Put<std::int32_t>(d, 116, MAX_WAVEFORM_POINTS + 1); },
         "outside 1 to"},
        {"negative points", [](Bytes& d) { Put<std::int32_t>(d, 116, -5); }, "announces -5"},
        {"ADC bits", [](Bytes& d) { Put<std::int16_t>(d, 172, 4); }, "gives 4 ADC bits"},
        {"scale NaN", [nan](Bytes& d) { Put<float>(d, 156, nan); }, "no usable scale"},
        {"probe", [](Bytes& d) { Put<float>(d, 328, 0.0F); }, "no usable scale"},
        {"delay", [](Bytes& d) { Put<double>(d, 180, INFINITY); }, "no usable scale"},
    };
    for (const auto& c : cases) {
        Bytes d = Valid();
        c.spoil(d);
        SiglentWaveDesc out;
        std::string why;
        EXPECT_FALSE(ParseSiglentWaveDesc(d, out, why)) << c.what;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
    }
}

TEST(TekPreamble, FieldsAreReadByNameInEveryFormAndWidthsFitTheFormat) {
    struct Case {
        const char* what;
        const char* text;
        bool accepted;
        std::uint32_t width;
        bool floats;
        bool msbFirst;
        double yMultiplier;
    };
    const Case cases[] = {
        {"4/5/6 Series, long names, 22 fields",
         ":WFMOUTPRE:BYT_NR 2;BIT_NR 16;ENCDG BINARY;BN_FMT RI;ASC_FMT YT;BYT_OR LSB;WFID "
         "\"Ch1, DC coupling; odd\";NR_PT 10000;PT_FMT Y;PT_ORDER LINEAR;XUNIT \"s\";XINCR "
         "1.0E-7;XZERO -5.0E-4;PT_OFF 0;YUNIT \"V\";YMULT 1.5625E-4;YOFF 2560;YZERO 0.0E+0;"
         "DOMAIN TIME;WFMTYPE ANALOG;CENTERFREQUENCY 0.0E+0;SPAN 0.0E+0",
         true, 2, false, false, 1.5625e-4},
        {"VERBose 0: short names, PT_OR beside PT_O, no WFID",
         ":WFMO:BYT_N 1;BIT_N 8;ENC BIN;BN_F RI;BYT_O MSB;NR_P 2500;PT_F Y;PT_OR LIN;XUN "
         "\"s\";XIN 4.0E-7;XZE 1.0E-6;PT_O 0;YUN \"V\";YMU 4.0E-2;YOF 10;YZE 0.1",
         true, 1, false, true, 4.0e-2},
        // MATH on the 4/5/6 Series, floats of four bytes: the TekMso58 persona.
        {"floats of two bytes", "BYT_NR 2;BN_FMT FP;NR_PT 5;XINCR 1;XZERO 0;YMULT 1;YOFF 0;YZERO 0",
         false, 0, false, true, 0},
        {"integers of four bytes",
         "BYT_NR 4;BN_FMT RI;NR_PT 5;XINCR 1;XZERO 0;YMULT 1;YOFF 0;YZERO 0", false, 0, false, true,
         0},
        {"a scale that is no number",
         "BYT_NR 1;NR_PT 5;XINCR 1;XZERO 0;YMULT \"none\";YOFF 0;YZERO 0", false, 0, false, true,
         0},
        {"more points than a capture takes",
         "BYT_NR 1;NR_PT 99999999;XINCR 1;XZERO 0;YMULT 1;YOFF 0;YZERO 0", false, 0, false, true,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TekPreamble p;
        std::string why;
        ASSERT_EQ(ParseTekPreamble(c.text, p, why), c.accepted) << why;
        if (!c.accepted) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(p.byteWidth, c.width);
        EXPECT_EQ(p.floatCodes, c.floats);
        EXPECT_EQ(p.msbFirst, c.msbFirst);
        EXPECT_DOUBLE_EQ(p.yMultiplier, c.yMultiplier);
    }
}

TEST(TekModels, TheFirstNumbersLastDigitCountsTheChannels) {
    const std::pair<const char*, int> models[] = {
        {"MSO58LP", 8},   {"MSO46", 6},   {"MSO64B", 4},    {"LPD64", 4},    {"MSO22", 2},
        {"MDO34", 4},     {"MDO3012", 2}, {"MDO4104C", 4},  {"DPO2002B", 2}, {"MSO2024B", 4},
        {"TBS 1052B", 2}, {"TBS2104", 4}, {"TDS 2024C", 4}, {"TDS1012B", 2}, {"MSO5", 4},
    };
    for (const auto& [model, channels] : models)
        EXPECT_EQ(ChannelCountOfTektronixModel(model), channels) << model;
}

} // namespace
} // namespace quarvel::wavedata
