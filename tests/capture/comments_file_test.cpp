#include "capture/comments_file.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <string>

namespace {

using quarvel::test::ReadFileText;
using quarvel::test::TempDir;

// A fixed moment and its stamp in local time.
constexpr std::time_t kWhen = 1488369600; // 2017-03-01 12:00:00 UTC

std::string Stamp() {
    std::tm local{};
    localtime_r(&kWhen, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H%M%S", &local);
    return buffer;
}

TEST(CommentsFile, TheLastCommentLineCountsOnlyWhenEndedByALineBreak) {
    TempDir dir;
    const std::string longLine = "a much longer second line of text"; // 33 characters
    AppendCommentsEntry(dir.File("open.txt"), {"s.png", "", "first\r\n" + longLine, ""}, kWhen);
    EXPECT_EQ(ReadFileText(dir.File("open.txt")),
              "\r\n* File name: s.png\r\n* Timestamp: " + Stamp() + "\r\n* Comments:\r\nfirst\r\n" +
                  longLine + "\r\n" + std::string(30, '-') + "\r\n");

    AppendCommentsEntry(dir.File("closed.txt"), {"s.png", "", "first\n" + longLine + "\n", ""},
                        kWhen);
    EXPECT_EQ(ReadFileText(dir.File("closed.txt")),
              "\r\n* File name: s.png\r\n* Timestamp: " + Stamp() + "\r\n* Comments:\r\nfirst\r\n" +
                  longLine + "\r\n\r\n" + std::string(33, '-') + "\r\n");
}

// The data file and identification lines widen the rule under an entry.
TEST(CommentsFile, EntriesAreAppendedAndEarlierContentKept) {
    TempDir dir;
    ASSERT_TRUE(quarvel::test::WriteFileBytes(dir.File("c.txt"), "kept\r\n"));
    const std::string idn = "KEYSIGHT TECHNOLOGIES,DSOX3024T,MY12345678,07.50.2021102830";
    AppendCommentsEntry(dir.File("c.txt"), {"a.png", "", "x", ""}, kWhen);
    AppendCommentsEntry(dir.File("c.txt"), {"s-0004.png", "s-0004.csv", "", idn}, kWhen);
    EXPECT_EQ(ReadFileText(dir.File("c.txt")),
              "kept\r\n\r\n* File name: a.png\r\n* Timestamp: " + Stamp() +
                  "\r\n* Comments:\r\nx\r\n" + std::string(30, '-') +
                  "\r\n\r\n* File name: s-0004.png\r\n* Data file name: s-0004.csv\r\n* "
                  "Timestamp: " +
                  Stamp() + "\r\n* Instrument ID: " + idn + "\r\n* Comments:\r\n\r\n" +
                  std::string(idn.size() + 17, '-') + "\r\n");
}

TEST(CommentsFile, CharactersAboveLatin1BecomeQuestionMarksAndWidthsCountUtf16) {
    TempDir dir;
    // "Ä" (U+00C4) is one Latin-1 byte; "€" (U+20AC) has none; "𝄞" (U+1D11E)
    // is two UTF-16 code units.
    const std::string comments = "\xC3\x84\xE2\x82\xAC\xF0\x9D\x84\x9E\n";
    const std::string longName = std::string(40, 'n') + "\xF0\x9D\x84\x9E.png"; // 46 units
    AppendCommentsEntry(dir.File("c.txt"), {longName, "", comments, ""}, kWhen);
    EXPECT_EQ(ReadFileText(dir.File("c.txt")),
              "\r\n* File name: " + std::string(40, 'n') + "?.png\r\n* Timestamp: " + Stamp() +
                  "\r\n* Comments:\r\n\xC4??\r\n\r\n" + std::string(13 + 46, '-') + "\r\n");
}

TEST(CommentsFile, UnopenableFilesAreSkippedSilently) {
    TempDir dir;
    EXPECT_FALSE(AppendCommentsEntry("", {"a.png", "", "x", ""}, kWhen));
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0700), 0);
    EXPECT_FALSE(AppendCommentsEntry(dir.File("sub"), {"a.png", "", "x", ""}, kWhen));
    EXPECT_FALSE(AppendCommentsEntry(dir.File("missing/c.txt"), {"a.png", "", "x", ""}, kWhen));
    EXPECT_FALSE(quarvel::test::PathExists(dir.File("missing")));
}

} // namespace
