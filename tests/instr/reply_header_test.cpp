// The echoed-header rule every driver applies to the value of a query, and
// the length a BMP file header declares.

#include "instr/bmp_extent.h"
#include "instr/reply_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel::test {
namespace {

using quarvel::instr::SkipEchoedHeader;

TEST(EchoedHeader, IsSkippedInEveryFormInstrumentsUse) {
    struct Case {
        const char* query;
        const char* reply;
        const char* value;
    };
    const Case cases[] = {
        // Siglent COMM_HEADER SHORT and LONG (a long form of its own).
        {"TRMD?", "TRMD AUTO", "AUTO"},
        {"TRMD?", "TRIG_MODE NORM", "NORM"},
        {"TRIG_MODE?", "trmd auto", "auto"},
        {"*OPC?", "*OPC 1", "1"},
        // Tektronix HEADer ON: long form, leading colon, upper case.
        {"ACQuire:STATE?", ":ACQUIRE:STATE 1", "1"},
        {"ACQ:STATE?\n", ":ACQUIRE:STATE  0", "0"},
        // Keysight :SYSTem:HEADer ON, the short form of a long query.
        {":OPEREGISTER:CONDITION?\n", ":OPER:COND +4128", "+4128"},
        {":CHANnel2:SCALe?", ":CHAN2:SCAL 5.0E-01", "5.0E-01"},
        // No echo: the reply stays as it is.
        {"TRMD?", "AUTO", "AUTO"},
        {"TRMD?", "TRMD", "TRMD"},
        {"TRMD?", "TRIG AUTO", "TRIG AUTO"},
        {":CHAN1:SCAL?", ":CHAN2:SCAL 1", ":CHAN2:SCAL 1"},
        {":ACQ:STATE?", ":ACQ 1", ":ACQ 1"},
        {":ACQ?", ":ACQ:STATE 1", ":ACQ:STATE 1"},
        {"*OPC?", "*OP 1", "*OP 1"},
        {":WAVEFORM:DATA?", "WA 1", "WA 1"},
        {"", "TRMD AUTO", "TRMD AUTO"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.query) + " / " + c.reply);
        EXPECT_EQ(SkipEchoedHeader(c.reply, c.query), c.value);
    }
}

TEST(BmpExtent, TheFileHeaderGivesTheLengthOnlyWhenPlausible) {
    using quarvel::instr::BmpFileLength;
    // 800 x 480 x 24 bits, as Siglent and Rigol oscilloscopes send it.
    const std::vector<std::uint8_t> sds = {'B', 'M', 0x36, 0x94, 0x11, 0, 0, 0, 0, 0, 54, 0, 0, 0};
    EXPECT_EQ(BmpFileLength(sds.data(), sds.size()), 1152054u);
    EXPECT_EQ(BmpFileLength(sds.data(), sds.size() - 1), 0u) << "header incomplete";

    const auto with = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = sds;
        bytes[at] = value;
        return BmpFileLength(bytes.data(), bytes.size());
    };
    EXPECT_EQ(with(0, '#'), 0u);
    EXPECT_EQ(with(1, 'A'), 0u);
    EXPECT_EQ(with(10, 25), 0u) << "pixels inside the headers";
    EXPECT_EQ(with(12, 0x20), 0u) << "pixels beyond the file";
    std::vector<std::uint8_t> tiny = {'B', 'M', 25, 0, 0, 0, 0, 0, 0, 0, 25, 0, 0, 0};
    EXPECT_EQ(BmpFileLength(tiny.data(), tiny.size()), 0u) << "smaller than its headers";
    tiny[2] = 26;
    tiny[10] = 26;
    EXPECT_EQ(BmpFileLength(tiny.data(), tiny.size()), 26u);
    std::vector<std::uint8_t> huge = sds;
    huge[2] = huge[3] = huge[4] = huge[5] = 0xFF;
    EXPECT_EQ(BmpFileLength(huge.data(), huge.size()), 0xFFFFFFFFu)
        << "the caller bounds the length by its buffer";
}

} // namespace
} // namespace quarvel::test
