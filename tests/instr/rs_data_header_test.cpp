// The Rohde & Schwarz data header is read strictly: what it accepts sizes a
// transfer, so anything but four plain numbers within their ranges is
// refused with the reason.

#include "instr/rs_data_header.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace quarvel::wavedata
