// The I/O log's line format: what the writer formats parses back to the
// same bytes, and the strict reader refuses what is not of the format.

#include "codec/io_log_format.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel::visa::iolog {
namespace {

Record Parsed(const std::string& line) {
    Header header;
    Record record;
    std::string error;
    const auto kind = ParseLine(line, header, record, error);
    EXPECT_EQ(kind, LineKind::Record) << line << "\n" << error;
    return record;
}

std::string Line(Op op, End end, const std::string& bytes, std::optional<std::uint64_t> at = {}) {
    Record record;
    record.tMs = 1234.5;
    record.session = 258;
    record.resource = "USB0::0x1AB1::0x04CE::DS1ZA1::INSTR";
    record.op = op;
    record.status = "VI_SUCCESS_MAX_CNT";
    record.durMs = 0.25;
    record.end = end;
    record.payload.at = at;
    std::string line =
        FormatLine(record, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(line.back(), '\n');
    line.pop_back();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    return line;
}

struct RoundTrip {
    const char* name;
    std::string bytes;
    bool text;
};

class LineRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(LineRoundTrip, FormatsAndParsesBack) {
    const RoundTrip& c = GetParam();
    const Record r = Parsed(Line(Op::Read, End::Term, c.bytes, 77));
    EXPECT_DOUBLE_EQ(r.tMs, 1234.5);
    EXPECT_EQ(r.session, 258u);
    EXPECT_EQ(r.resource, "USB0::0x1AB1::0x04CE::DS1ZA1::INSTR");
    EXPECT_EQ(r.op, Op::Read);
    EXPECT_EQ(r.status, "VI_SUCCESS_MAX_CNT");
    EXPECT_EQ(r.end, End::Term);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    if (c.text) {
        ASSERT_EQ(r.payload.kind, Payload::Kind::Text);
        EXPECT_EQ(r.payload.text, c.bytes);
        return;
    }
    ASSERT_EQ(r.payload.kind, Payload::Kind::Binary);
    EXPECT_EQ(r.payload.size, c.bytes.size());
    EXPECT_EQ(r.payload.head, c.bytes.substr(0, 16));
    EXPECT_EQ(r.payload.tail, c.bytes.substr(c.bytes.size() - 16));
    EXPECT_EQ(r.payload.fnv, Fnv1a64(bytes, c.bytes.size()));
    EXPECT_EQ(r.payload.at, 77u);
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, LineRoundTrip,
    ::testing::Values(RoundTrip{"Empty", "", true},
                      RoundTrip{"Idn", "RIGOL TECHNOLOGIES,DS1054Z\n", true},
                      // Quotes, backslashes and control bytes are escaped; a short reply
                      // with NULs (a stray "\n\0") stays text, whole.
                      RoundTrip{"Escapes", std::string("a\"b\\c\r\n\t\0\x7f\xff", 12), true},
                      RoundTrip{"StrayNul", std::string("1\n\0", 3), true},
                      // Mostly text and under 4 KB: text; a block of binary: a summary.
                      RoundTrip{"LongText", std::string(4000, 'x') + std::string(1, '\x01'), true},
                      RoundTrip{"Block", "#9000000100" + std::string(100, '\xfe'), false},
                      RoundTrip{"LongerThanText", std::string(4097, 'y'), false}),
    [](const auto& info) { return std::string(info.param.name); });

// The header with its side file and the writer's process id, read back:
// IoLogRoundTrip and the C program's log (VisaSharedLibrary); comments: the
// recordings corpus. Here a blank line and the headers refused.
TEST(IoLogStrictness, RefusesWhatIsNotOfTheFormat) {
    const std::string good = Line(Op::Write, End::Yes, "*IDN?\n");
    Parsed(good);
    const std::string binary = Line(Op::Read, End::No, std::string(100, '\0'));
    Parsed(binary);
    const auto replace = [](std::string line, const std::string& from, const std::string& to) {
        return line.replace(line.find(from), from.size(), to);
    };
    const std::string bad[] = {
        replace(good, "t=1234.500", "t=1234.5"), // three decimals
        replace(good, "t=1234.500", "t=-1.000"), // no sign
        replace(good, "s=258", "s=x"),           // a number
        replace(good, "op=write", "op=erase"),   // known operations
        replace(good, "status=VI_SUCCESS_MAX_CNT", "status=OK"),
        replace(good, "end=yes", "end=term"),           // writes have no term char
        replace(good, "\"*IDN?\\n\"", "\"*IDN?\\q\""),  // known escapes
        replace(good, "\"*IDN?\\n\"", "\"*IDN?\\x4\""), // two hex digits
        replace(good, "\"*IDN?\\n\"", "\"*IDN?"),       // closed quote
        replace(good, "\"*IDN?\\n\"", "\"*IDN?\"\""),   // nothing after it
        good + " more=1",                               // no unknown keys
        replace(binary, "bin=100", "bin=10"),           // edges fit the length
        replace(binary, "head=", "head=0"),             // whole bytes
        replace(binary, "fnv=", "fnv=00"),              // 16 digits
        replace(binary, "fnv=", "hash="),
        "t=1.000 s=1 rsrc=X op=read status=VI_SUCCESS dur=1.000 end=no text=\"" +
            std::string(4097, 'a') + "\"", // text is bounded
        std::string(kMaxLineLength + 1, 't'),
        "# quarvel-io-log 2",
        "# quarvel-io-log 1 data=../etc/passwd",
    };
    for (const std::string& line : bad) {
        Header header;
        Record record;
        std::string error;
        EXPECT_FALSE(ParseLine(line, header, record, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
    Header header;
    Record record;
    std::string error;
    EXPECT_EQ(ParseLine("", header, record, error), LineKind::Blank);
}

} // namespace
} // namespace quarvel::visa::iolog
