// Tektronix waveform pieces that real instruments vary: the preamble read by
// field name (instr/tek_preamble.h) in the forms the families send it, the
// widths the curve decoder can take, and the channel count a model's name
// gives (instr/scope_models.h).

#include "instr/scope_models.h"
#include "instr/tek_preamble.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel::wavedata {
namespace {

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
        {"MATH on the 4/5/6 Series: floats of four bytes",
         "BYT_NR 4;BN_FMT FP;BYT_OR LSB;NR_PT 5;XINCR 1E-7;XZERO 0;YMULT 1;YOFF 0;YZERO 0", true, 4,
         true, false, 1.0},
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
