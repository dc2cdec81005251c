// Data files and preamble numbers under a comma-decimal locale, as on a German
// desktop: the files must be byte-identical to those written under "C", and
// instrument numbers read the same, whatever the process locale says.
#include "tests/support/temp_dir.h"
#include "tests/wavedata/preamble_fields.h"
#include "wavedata/data_writers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <limits>
#include <locale>
#include <string>

namespace {

using quarvel::test::ReadDirFiles;
using quarvel::test::TempDir;

constexpr const char* kCommaLocale = "de_DE.UTF-8";

// Switches the C and the C++ global locale for the life of the object.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) {
        m_ok = std::setlocale(LC_ALL, name) != nullptr;
        if (m_ok)
            m_savedGlobal = std::locale::global(std::locale(name));
    }
    ~ScopedLocale() {
        std::setlocale(LC_ALL, "C");
        std::locale::global(m_savedGlobal);
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    bool Ok() const { return m_ok; }

private:
    bool m_ok = false;
    std::locale m_savedGlobal = std::locale::classic();
};

// Fractions in every field: time axes, scaled samples (one of them so small
// that the exact conversion writes it), a byte record.
WaveformRecordList Records(bool sharedX) {
    WaveformRecord a;
    a.name = "CHAN1";
    a.xLabel = "time/s";
    a.yLabel = "voltage/V";
    a.x = {-1.25e-7, 0.5e-9, 2.75e-3};
    a.y = {0.03125, -1.5, std::numeric_limits<double>::denorm_min()};
    WaveformRecord b = a;
    b.name = "TRACE1";
    b.yQualifier = "Detector=RMS";
    b.y = {-98.25, 0.001, 3.5};
    if (!sharedX)
        b.x = {1.5e9, 1.75e9, 2.5e9, 3.25e9};
    WaveformRecord pod = a;
    pod.name = "POD1";
    pod.sampleKind = SAMPLE_KIND_BYTE;
    pod.bytes = {0x00, 0x7F, 0xFF};
    return {a, b, pod};
}

// Every file written for the records, in the order of their names: the CSV
// files with a shared and with separate x columns, then the dirfile's.
std::vector<std::vector<std::uint8_t>> WriteAll(const TempDir& dir, const std::string& tag) {
    const std::string files = dir.File(tag);
    std::filesystem::create_directory(files);
    EXPECT_TRUE(WriteCsvFile(Records(true), files + "/shared.csv"));
    EXPECT_TRUE(WriteCsvFile(Records(false), files + "/separate.csv"));
    EXPECT_TRUE(WriteKstDirfile(Records(false), dir.File(tag + "-dirfile")));
    auto all = ReadDirFiles(files);
    const auto dirfile = ReadDirFiles(dir.File(tag + "-dirfile"));
    all.insert(all.end(), dirfile.begin(), dirfile.end());
    return all;
}

TEST(CommaDecimalLocale, DataFilesAndPreambleNumbersAreAsUnderTheCLocale) {
    TempDir dir;
    const auto reference = WriteAll(dir, "c");
    ASSERT_GT(reference.size(), 3u); // the CSV files, the dirfile's format and fields
    const std::string text(reference[1].begin(), reference[1].end()); // shared.csv
    EXPECT_NE(text.find("-1.250000e-007;3.125000e-002;-9.825000e+001;0x00"), std::string::npos)
        << text;
    const char* reply = "+0,+0,+1000,+1,+2.00000000E-010,-1.00000000E-007,+0,+3.12500000E-002,"
                        "+1.25000000E-002,+128\n";
    const WaveformPreamble preamble = ParseWaveformPreamble(reply);

    ScopedLocale german(kCommaLocale);
    ASSERT_TRUE(german.Ok()) << kCommaLocale << " is not installed (scripts/test.sh generates it)";
    // The locale really has a comma: otherwise this test proves nothing.
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(WriteAll(dir, "de"), reference);
    EXPECT_EQ(Fields(ParseWaveformPreamble(reply)), Fields(preamble));
    double real = 0.0;
    EXPECT_TRUE(ReadLeadingReal("2.5E+03", real));
    EXPECT_EQ(real, 2500.0);
    // A comma is never a decimal point on the wire.
    EXPECT_TRUE(ReadLeadingReal("2,5", real));
    EXPECT_EQ(real, 2.0);
}

} // namespace
