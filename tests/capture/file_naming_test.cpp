#include "capture/file_naming.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>

namespace {

using quarvel::test::TempDir;
using quarvel::test::WriteFileBytes;

// Runs the sequential search as a capture does, then "saves" the image as an
// empty file, and returns the image's name.
std::string CaptureOnce(FileNaming& naming) {
    std::string image;
    std::string data;
    if (FindSequentialNames(naming, "png", "csv", false, image, data) != NAMES_OK)
        return "<failed>";
    WriteFileBytes(image, "");
    return naming.fileName;
}

FileNaming Naming(const TempDir& dir, const std::string& pattern, std::uint32_t number = 1) {
    FileNaming naming;
    naming.directory = dir.Path();
    naming.namePattern = pattern;
    naming.sequenceNumber = number;
    return naming;
}

TEST(SequentialNames, PatternExtensionsAndBlanksAreDroppedAndEmptyStaysEmpty) {
    TempDir dir;
    FileNaming a = Naming(dir, "shot.png");
    EXPECT_EQ(CaptureOnce(a), "shot.png");
    FileNaming b = Naming(dir, "a.b.c");
    EXPECT_EQ(CaptureOnce(b), "a.png");
    FileNaming c = Naming(dir, "  shot  ");
    EXPECT_EQ(CaptureOnce(c), "shot-0001.png");
    FileNaming empty = Naming(dir, "");
    EXPECT_EQ(CaptureOnce(empty), ".png");
    EXPECT_EQ(CaptureOnce(empty), "-0001.png");
}

TEST(SequentialNames, InvalidSpecifiersFailWithoutTouchingThePaths) {
    TempDir dir;
    for (const char* pattern : {"x%q", "shot%", "%E", "%Oq"}) {
        FileNaming naming = Naming(dir, pattern);
        std::string image = "unchanged";
        std::string data = "unchanged";
        EXPECT_EQ(FindSequentialNames(naming, "png", "csv", true, image, data), NAMES_BAD_PATTERN)
            << pattern;
        EXPECT_EQ(image, "unchanged");
        EXPECT_EQ(data, "unchanged");
    }
    std::string expanded;
    EXPECT_TRUE(ExpandTimeFormat("100%% %Ey", std::time(nullptr), expanded));
    EXPECT_EQ(expanded.substr(0, 5), "100% ");
}

TEST(SequentialNames, OverlongExpansionGivesAnEmptyName) {
    std::string expanded = "x";
    EXPECT_TRUE(ExpandTimeFormat(std::string(127, 'a'), 0, expanded));
    EXPECT_EQ(expanded.size(), 127u);
    EXPECT_TRUE(ExpandTimeFormat(std::string(128, 'a'), 0, expanded));
    EXPECT_EQ(expanded, "");
    // Counted in UTF-16 code units: 64 two-byte letters are 64 units.
    std::string umlauts;
    for (int i = 0; i < 64; ++i)
        umlauts += "\xC3\xA4";
    EXPECT_TRUE(ExpandTimeFormat(umlauts, 0, expanded));
    EXPECT_EQ(expanded, umlauts);
    // "%Y" grows by two characters per use: 42 of them are 168 characters.
    std::string years;
    for (int i = 0; i < 42; ++i)
        years += "%Y";
    EXPECT_TRUE(ExpandTimeFormat(years, std::time(nullptr), expanded));
    EXPECT_EQ(expanded, "");
}

// Starting at the form's number with the plain name taken, and a path beyond
// the platform's limits failing the save: the controller's and the waveform
// capture tests.
TEST(SequentialNames, ImageAndDataShareTheirNumber) {
    TempDir dir;
    WriteFileBytes(dir.File("shot.png"), "");
    WriteFileBytes(dir.File("shot-0008.csv"), "");
    FileNaming naming = Naming(dir, "shot", 7);
    WriteFileBytes(dir.File("shot-0007.csv"), "");
    std::string image;
    std::string data;
    ASSERT_EQ(FindSequentialNames(naming, "png", "csv", true, image, data), NAMES_OK);
    EXPECT_EQ(image, dir.File("shot-0009.png"));
    EXPECT_EQ(data, dir.File("shot-0009.csv"));
    // Without data retrieval the data files do not count.
    FileNaming noData = Naming(dir, "shot", 7);
    ASSERT_EQ(FindSequentialNames(noData, "png", "csv", false, image, data), NAMES_OK);
    EXPECT_EQ(image, dir.File("shot-0007.png"));
    EXPECT_EQ(data, "");
    // An existing dirfile directory counts as taken.
    ASSERT_EQ(::mkdir(dir.File("shot-0007").c_str(), 0700), 0);
    FileNaming dirfile = Naming(dir, "shot", 7);
    ASSERT_EQ(FindSequentialNames(dirfile, "png", "", true, image, data), NAMES_OK);
    EXPECT_EQ(image, dir.File("shot-0008.png"));
    EXPECT_EQ(data, dir.File("shot-0008"));
}

TEST(SequenceText, ParsesLikeAnUnsignedDecimalConversion) {
    EXPECT_EQ(ParseSequenceText("7"), 7u);
    EXPECT_EQ(ParseSequenceText("  0042x"), 42u);
    EXPECT_EQ(ParseSequenceText("abc"), 0u);
    EXPECT_EQ(ParseSequenceText(""), 0u);
    EXPECT_EQ(ParseSequenceText("99999999999"), 0xFFFFFFFFu);
    EXPECT_EQ(FormatSequenceNumber(7), "0007");
    EXPECT_EQ(FormatSequenceNumber(0), "0000");
    EXPECT_EQ(FormatSequenceNumber(123456), "123456");
}

} // namespace
