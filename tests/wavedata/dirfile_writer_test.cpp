#include "tests/support/temp_dir.h"
#include "wavedata/data_writers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using quarvel::test::PathExists;
using quarvel::test::ReadFileBytes;
using quarvel::test::ReadFileText;
using quarvel::test::TempDir;

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

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

} // namespace

TEST(DirfileWriter, OneRecordGivesSharedAxisFieldsInOrder) {
    TempDir dir;
    const std::string path = dir.File("shot-0004");
    ASSERT_TRUE(WriteKstDirfile({Scope("CHAN1", {1.0, -2.0}, {0.5, 0.0})}, path));
    EXPECT_EQ(ReadFileText(path + "/format"), "xaxis.dat\tRAW\tFLOAT64\t1\r\n"
                                              "CHAN1.dat\tRAW\tFLOAT64\t1\r\n");
    // 1.0 = 3FF0000000000000, -2.0 = C000000000000000, 0.5 = 3FE0000000000000,
    // little-endian.
    EXPECT_EQ(ReadFileBytes(path + "/xaxis.dat"),
              Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0xC0}));
    EXPECT_EQ(ReadFileBytes(path + "/CHAN1.dat"),
              Bytes({0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(path)) {
        ++entries;
    }
    EXPECT_EQ(entries, 3u);
}

TEST(DirfileWriter, SeparateAxesAndByteRecords) {
    TempDir dir;
    const std::string path = dir.File("mixed");
    WaveformRecord pod = Scope("POD1", {0.0}, {});
    pod.sampleKind = SAMPLE_KIND_BYTE;
    pod.bytes = {0xA5};
    WaveformRecord odd = Scope("ODD", {0.0, 1.0, 2.0}, {});
    odd.sampleKind = 7;
    ASSERT_TRUE(WriteKstDirfile({Scope("CHAN1", {1.0, 1.0}, {1.0, 1.0}), pod, odd}, path));
    EXPECT_EQ(ReadFileText(path + "/format"), "CHAN1_xaxis.dat\tRAW\tFLOAT64\t1\r\n"
                                              "CHAN1.dat\tRAW\tFLOAT64\t1\r\n"
                                              "POD1_xaxis.dat\tRAW\tFLOAT64\t1\r\n"
                                              "POD1.dat\tRAW\tUINT8\t1\r\n"
                                              "ODD_xaxis.dat\tRAW\tFLOAT64\t1\r\n");
    EXPECT_EQ(ReadFileBytes(path + "/CHAN1_xaxis.dat").size(), 16u);
    EXPECT_EQ(ReadFileBytes(path + "/POD1.dat"), Bytes({0xA5}));
    EXPECT_EQ(ReadFileBytes(path + "/ODD_xaxis.dat").size(), 24u);
    EXPECT_FALSE(PathExists(path + "/ODD.dat"));
}

TEST(DirfileWriter, SharedAxisWithByteRecordAndEmptyArrays) {
    TempDir dir;
    WaveformRecord pod = Scope("POD2", {}, {});
    pod.sampleKind = SAMPLE_KIND_BYTE;
    const std::string path = dir.File("empty");
    ASSERT_TRUE(WriteKstDirfile({Scope("CHAN2", {}, {}), pod}, path));
    EXPECT_EQ(ReadFileText(path + "/format"), "xaxis.dat\tRAW\tFLOAT64\t1\r\n"
                                              "CHAN2.dat\tRAW\tFLOAT64\t1\r\n"
                                              "POD2.dat\tRAW\tUINT8\t1\r\n");
    EXPECT_TRUE(PathExists(path + "/POD2.dat"));
    EXPECT_TRUE(ReadFileBytes(path + "/POD2.dat").empty());
}

TEST(DirfileWriter, NeverUsesAnExistingOrUnreachableDirectory) {
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
}

TEST(DirfileWriter, NameThatWouldLeaveTheDirectoryFails) {
    TempDir dir;
    const std::string path = dir.File("escape");
    EXPECT_FALSE(WriteKstDirfile({Scope("../CHAN1", {1.0}, {2.0})}, path));
    EXPECT_FALSE(PathExists(dir.File("CHAN1.dat")));
    EXPECT_FALSE(PathExists(dir.File("CHAN1_xaxis.dat")));
}
