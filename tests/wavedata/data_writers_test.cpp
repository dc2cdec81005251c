// The data writers: the number text, the CSV file and the Kst dirfile, read
// back byte for byte from real temporary directories.
#include "tests/support/temp_dir.h"
#include "wavedata/data_writers.h"
#include "wavedata/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <sys/resource.h>

using namespace quarvel::test;

namespace {

WaveformRecord Scope(const std::string& name, std::vector<double> x, std::vector<double> y) {
    WaveformRecord r;
    r.name = name;
    r.xLabel = "time/s";
    r.yLabel = "voltage/V";
    r.x = std::move(x);
    r.y = std::move(y);
    return r;
}

std::string Number(double value) {
    char text[SCIENTIFIC_TEXT_MAX];
    return std::string(text, FormatScientific(value, text));
}

using Bytes = std::vector<std::uint8_t>;

WaveformRecord Trace(const std::string& name, std::vector<double> x, std::vector<double> y) {
    WaveformRecord r = Scope(name, std::move(x), std::move(y));
    r.xLabel = "Frequency/Hz";
    r.yLabel = "Level/DBM";
    r.yQualifier = "POS/WRIT";
    return r;
}

WaveformRecord Bytewise(WaveformRecord r, SampleKind kind, std::vector<std::uint8_t> bytes) {
    r.sampleKind = kind;
    r.bytes = std::move(bytes);
    return r;
}

// The C library's "%e" (always correctly rounded) with its exponent widened
// to three digits is the reference for every finite value.
std::string PrintfReference(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%e", value);
    std::string s(text);
    const std::size_t e = s.find('e');
    if (s.size() - e - 2 == 2) {
        s.insert(e + 2, "0");
    }
    return s;
}

} // namespace

TEST(NumberText, ScientificFormHasThreeExponentDigitsAndNonFiniteValuesAreWords) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> cases[] = {
        {0.0, "0.000000e+000"},
        {0.5, "5.000000e-001"},
        {123456789.0, "1.234568e+008"}, // rounded to six decimals
        {1e100, "1.000000e+100"},
        {-2.5e-300, "-2.500000e-300"},
        {-0.0, "-0.000000e+000"},
        {std::numeric_limits<double>::max(), "1.797693e+308"},
        {std::numeric_limits<double>::denorm_min(), "4.940656e-324"},
        {nan, "nan"},
        {-nan, "nan"},
        {inf, "inf"},
        {-inf, "-inf"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(Number(value), text);
}

TEST(NumberText, MatchesPrintfOnRandomAndMidpointValues) {
    std::mt19937_64 random(20261206);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::size_t checked = 0;
    const auto check = [&](double value) {
        if (!std::isfinite(value)) {
            return;
        }
        ++checked;
        ASSERT_EQ(Number(value), PrintfReference(value)) << std::hexfloat << value;
    };
    for (int i = 0; i < 100000; ++i) {
        check(std::bit_cast<double>(random())); // any exponent, subnormals included
        check(mantissa(random) * std::pow(10.0, static_cast<int>(random() % 40) - 20));
    }
    // Values on and next to the rounding midpoints of the seventh digit.
    for (int i = 0; i < 50000; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "%d.%06d5e%d", static_cast<int>(random() % 9) + 1,
                      static_cast<int>(random() % 1000000), static_cast<int>(random() % 60) - 30);
        const double midpoint = std::strtod(text, nullptr);
        check(midpoint);
        check(std::nextafter(midpoint, 0.0));
        check(std::nextafter(midpoint, 1e300));
    }
    // Carries into the next power of ten.
    for (int e = -300; e <= 300; ++e) {
        const double power = std::pow(10.0, e);
        check(power);
        check(9.9999995 * power);
        check(std::nextafter(power, 0.0));
    }
    EXPECT_GT(checked, 350000u);
}

// One x column when every record spans the same first and last x; otherwise
// an x column per record, NA where a record has ended. The qualifier shows in
// the shared header only; a kind without a field writes no column.
TEST(CsvWriter, LayoutFollowsTheRecordsXAxes) {
    // A line longer than the writer's buffer (a 3 MB channel name).
    const std::string longName(3000000, 'N');
    const struct {
        WaveformRecordList records;
        std::string text;
    } cases[] = {
        {{Scope("CHAN1", {0, 1, 2}, {1, 2, 3}), Scope("CHAN2", {0, 1.5, 2}, {4, 5, 6})},
         "time/s;CHAN1(voltage/V);CHAN2(voltage/V)\r\n"
         "0.000000e+000;1.000000e+000;4.000000e+000\r\n"
         "1.000000e+000;2.000000e+000;5.000000e+000\r\n"
         "2.000000e+000;3.000000e+000;6.000000e+000\r\n"},
        {{Scope("CHAN1", {0, 1, 2}, {-1, 0, 1}), Scope("POD1", {5, 6}, {0.5, 0.25})},
         "CHAN1(time/s);CHAN1(voltage/V);POD1(time/s);POD1(voltage/V)\r\n"
         "0.000000e+000;-1.000000e+000;5.000000e+000;5.000000e-001\r\n"
         "1.000000e+000;0.000000e+000;6.000000e+000;2.500000e-001\r\n"
         "2.000000e+000;1.000000e+000;NA;NA\r\n"},
        {{Trace("TRACE1", {1e6}, {-20})},
         "Frequency/Hz;TRACE1(Level/DBM/POS/WRIT)\r\n1.000000e+006;-2.000000e+001\r\n"},
        {{Trace("TRACE1", {1e6}, {-20}), Trace("TRACE2", {2e6, 3e6}, {-30, -40})},
         "TRACE1(Frequency/Hz);TRACE1(Level/DBM);TRACE2(Frequency/Hz);TRACE2(Level/DBM)\r\n"
         "1.000000e+006;-2.000000e+001;2.000000e+006;-3.000000e+001\r\n"
         "NA;NA;3.000000e+006;-4.000000e+001\r\n"},
        {{Scope("CHAN1", {0, 1}, {1, 2}),
          Bytewise(Scope("POD1", {0, 1}, {}), SAMPLE_KIND_BYTE, {10, 0xC3}),
          Bytewise(Scope("ODD", {0, 1}, {7, 8}), static_cast<SampleKind>(5), {})},
         "time/s;CHAN1(voltage/V);POD1(voltage/V);ODD(voltage/V)\r\n"
         "0.000000e+000;1.000000e+000;0x0A\r\n"
         "1.000000e+000;2.000000e+000;0xC3\r\n"},
        {{Scope(longName, {0}, {1})},
         "time/s;" + longName + "(voltage/V)\r\n0.000000e+000;1.000000e+000\r\n"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteCsvFile(c.records, dir.File("data.csv"))) << c.text;
        EXPECT_EQ(ReadFileText(dir.File("data.csv")), c.text);
    }
}

TEST(CsvWriter, ReplacesAFileButNeverADirectoryAndLeavesNoTemporaries) {
    TempDir dir;
    const std::string path = dir.File("data.csv");
    const WaveformRecordList list{Scope("CHAN1", {1}, {2})};
    ASSERT_TRUE(WriteFileBytes(path, std::string(5000, 'z')));
    ASSERT_TRUE(WriteCsvFile(list, path));
    EXPECT_EQ(ReadFileText(path), "time/s;CHAN1(voltage/V)\r\n1.000000e+000;2.000000e+000\r\n");
    EXPECT_FALSE(WriteCsvFile(list, dir.File("missing/data.csv")));
    std::filesystem::create_directory(dir.File("taken.csv"));
    EXPECT_FALSE(WriteCsvFile(list, dir.File("taken.csv")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken.csv")));
    EXPECT_FALSE(WriteCsvFile({}, dir.File("empty.csv")));
    EXPECT_EQ(FileNamesIn(dir.Path()), (std::vector<std::string>{"data.csv", "taken.csv"}));
}

TEST(CsvWriter, WriteFailureIsReported) {
    // A file size limit makes the writes fail part way, as a full disk would.
    TempDir dir;
    WaveformRecord big =
        Scope("CHAN1", std::vector<double>(200000, 1.0), std::vector<double>(200000, 2.0));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 65536;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteCsvFile({big}, dir.File("big.csv"));
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(written);
    EXPECT_EQ(FileNamesIn(dir.Path()).size(), 0u);
}

// One x field when the records share their axis, else one per record; the
// byte record's field is UINT8, a kind without a field has its axis only.
TEST(DirfileWriter, FormatAndFieldsFollowTheRecords) {
    const std::string f64 = "\tRAW\tFLOAT64\t1\r\n";
    const struct {
        WaveformRecordList records;
        std::string format;
        std::vector<std::pair<std::string, std::vector<std::uint8_t>>> fields;
    } cases[] = {
        // 1.0 = 3FF0000000000000, -2.0 = C000000000000000, 0.5 = 3FE0000000000000,
        // little-endian.
        {{Scope("CHAN1", {1.0, -2.0}, {0.5, 0.0})},
         "xaxis.dat" + f64 + "CHAN1.dat" + f64,
         {{"xaxis.dat", Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0xC0}},
          {"CHAN1.dat", Bytes{0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0}}}},
        {{Scope("CHAN1", {1.0, 1.0}, {1.0, 1.0}),
          Bytewise(Scope("POD1", {0.0}, {}), SAMPLE_KIND_BYTE, {0xA5}),
          Bytewise(Scope("ODD", {0.0, 1.0, 2.0}, {}), static_cast<SampleKind>(7), {})},
         "CHAN1_xaxis.dat" + f64 + "CHAN1.dat" + f64 + "POD1_xaxis.dat" + f64 +
             "POD1.dat\tRAW\tUINT8\t1\r\nODD_xaxis.dat" + f64,
         {{"CHAN1_xaxis.dat", Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
          {"POD1.dat", Bytes{0xA5}},
          {"ODD_xaxis.dat", Bytes{0, 0, 0,    0,    0, 0, 0, 0, 0, 0, 0, 0,
                                  0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0x40}}}},
        {{Scope("CHAN2", {}, {}), Bytewise(Scope("POD2", {}, {}), SAMPLE_KIND_BYTE, {})},
         "xaxis.dat" + f64 + "CHAN2.dat" + f64 + "POD2.dat\tRAW\tUINT8\t1\r\n",
         {{"POD2.dat", {}}}},
    };
    TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = dir.File("d" + std::to_string(++n));
        ASSERT_TRUE(WriteKstDirfile(c.records, path)) << c.format;
        EXPECT_EQ(ReadFileText(path + "/format"), c.format);
        EXPECT_EQ(FileNamesIn(path).size(),
                  1 + static_cast<std::size_t>(std::ranges::count(c.format, '\n')));
        for (const auto& [name, bytes] : c.fields)
            EXPECT_EQ(ReadFileBytes(path + "/" + name), bytes) << name;
    }
}

TEST(DirfileWriter, NeverUsesAnExistingOrUnreachableDirectoryNorLeavesItsOwn) {
    TempDir dir;
    const std::string path = dir.File("twice");
    const WaveformRecordList first{Scope("CHAN1", {1.0}, {2.0})};
    ASSERT_TRUE(WriteKstDirfile(first, path));
    const auto before = ReadFileBytes(path + "/CHAN1.dat");
    EXPECT_FALSE(WriteKstDirfile({Scope("CHAN1", {3.0}, {4.0})}, path));
    EXPECT_EQ(ReadFileBytes(path + "/CHAN1.dat"), before);

    EXPECT_FALSE(WriteKstDirfile(first, dir.File("no/such/parent")));
    EXPECT_FALSE(PathExists(dir.File("no")));
    EXPECT_FALSE(WriteKstDirfile({}, dir.File("nothing")));
    EXPECT_FALSE(PathExists(dir.File("nothing")));
    // Nor a name that would leave the directory.
    EXPECT_FALSE(WriteKstDirfile({Scope("../CHAN1", {1.0}, {2.0})}, dir.File("escape")));
    EXPECT_FALSE(PathExists(dir.File("CHAN1.dat")));
    EXPECT_FALSE(PathExists(dir.File("CHAN1_xaxis.dat")));
}
