// quarvel-cli screenshot, run as a program against quarvel-sim: the file it
// writes is in the format its extension names (with --raw: exactly the image
// the instrument served), and it refuses to replace files, to guess a format
// or to go on without a driver.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quarvel::test {
namespace {

// Library: the socket through our own VISA library loaded as another vendor's
// (the raw BMP without block header, the hardest reply to pass through),
// every resource sent to it. UsbSmallPackets: a DS1054Z as public reports
// describe it, 64-byte bulk-IN packets on a 512-byte endpoint (its 55-byte
// *IDN? reply a 64-byte packet and a 4-byte one; linux-usbtmc issue 8).
enum class Link { Socket, Vxi11, Usb, UsbSmallPackets, Library };

struct FamilyCase {
    const char* instrument;
    Link link;
    const char* file = "screen.img"; // an extension that names no format
};

class CliScreenshot : public ::testing::TestWithParam<FamilyCase> {};

INSTANTIATE_TEST_SUITE_P(
    Families, CliScreenshot,
    // Each link and the loaded library once, with the framings that are hard
    // to pass through it (raw PNG and BMP files, the FSV's file as a block);
    // every family over every link goes through its driver in
    // tests/instr/driver_families_test.cpp. The case: a Siglent's
    // BMP asked for as a .png file, written as it came.
    ::testing::Values(FamilyCase{"fsv", Link::Vxi11}, FamilyCase{"rigol", Link::Socket},
                      FamilyCase{"siglent", Link::Socket, "screen.png"},
                      FamilyCase{"rigol", Link::Usb}, FamilyCase{"rigol", Link::UsbSmallPackets},
                      FamilyCase{"tektronix", Link::Library}, FamilyCase{"siglent-hd", Link::Usb},
                      FamilyCase{"siglent-hd", Link::Library}, FamilyCase{"tek-mso", Link::Socket},
                      FamilyCase{"tek-tbs", Link::Usb}, FamilyCase{"keysight-xsa", Link::Socket}),
    [](const auto& info) {
        const Link link = info.param.link;
        std::string name = info.param.instrument;
        std::erase(name, '-');
        name += std::string(info.param.file).ends_with(".png") ? "_Png" : "";
        return name + (link == Link::Vxi11             ? "_Vxi11"
                       : link == Link::Usb             ? "_Usb"
                       : link == Link::UsbSmallPackets ? "_UsbSmallPackets"
                       : link == Link::Library         ? "_Library"
                                                       : "_Socket");
    });

TEST_P(CliScreenshot, RawWritesTheServedImageByteForByte) {
    TempDir dumps;
    TempDir work;
    const Link link = GetParam().link;
    std::vector<std::string> args = {"--instrument", GetParam().instrument, "--dump-images",
                                     dumps.Path()};
    if (link == Link::UsbSmallPackets)
        args.insert(args.end(), {"--usb-packets", "64"});
    SimProcess sim(args);
    ASSERT_TRUE(sim.Started());
    const std::string file = work.File(GetParam().file);
    const CliRun run =
        link == Link::Vxi11
            ? RunCli(work, {"screenshot", "--raw", "--portmapper-port",
                            std::to_string(sim.PortmapperPort()), sim.Vxi11Resource(), file})
        : link == Link::Usb || link == Link::UsbSmallPackets
            ? RunCli(work,
                     {"screenshot", "--raw", "--usbip", sim.UsbipServer(), sim.UsbResource(), file})
        : link == Link::Library
            ? RunCli(work, {"screenshot", "--raw", "--visa-library-all",
                            QUARVEL_VISA_SHARED_LIBRARY, sim.SocketResource(), file})
            : RunCli(work, {"screenshot", "--raw", sim.SocketResource(), file});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, ""); // no progress line when standard error is no terminal
    const auto served = ReadDirFiles(dumps.Path());
    ASSERT_EQ(served.size(), 1u);
    EXPECT_EQ(ReadFileBytes(file), served[0]);
    EXPECT_FALSE(served[0].empty());
}

// Decoded by ImageMagick, not by Qt: the pixels as 8-bit RGB, and the format.
std::string PixelsOf(const std::string& path) {
    return CommandOutput(std::string(QUARVEL_IMAGEMAGICK_CONVERT) + " '" + path +
                         "' -depth 8 rgb:-");
}
std::string FormatOf(const std::string& path) {
    return CommandOutput(std::string(QUARVEL_IMAGEMAGICK_IDENTIFY) + " -format %m '" + path + "'");
}
std::string FileSays(const std::string& path) {
    return CommandOutput(std::string(QUARVEL_FILE) + " -b '" + path + "'");
}

struct ConversionCase {
    const char* instrument;
    const char* file;
    const char* format;   // ImageMagick's name of the file's format
    const char* fileSays; // the start of file(1)'s description
    bool servedAsIs;      // the instrument's bytes already are that format
};

class CliScreenshotFormat : public ::testing::TestWithParam<ConversionCase> {};

INSTANTIATE_TEST_SUITE_P(
    Extensions, CliScreenshotFormat,
    ::testing::Values(ConversionCase{"siglent", "x.png", "PNG", "PNG image data", false},
                      ConversionCase{"siglent", "x.BMP", "BMP3", "PC bitmap", true},
                      ConversionCase{"rigol", "x.jpg", "JPEG", "JPEG image data", false},
                      ConversionCase{"infiniivision-x", "x.png", "PNG", "PNG image data", true},
                      ConversionCase{"infiniivision-x", "x.ppm", "PPM", "Netpbm image data",
                                     false}),
    [](const auto& info) {
        std::string name = std::string(info.param.instrument) + "_" + info.param.format;
        name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
        return name;
    });

// The file is in the format its extension names, as ImageMagick and file(1)
// see it, and holds the served picture's pixels (JPEG: its size only, the
// format loses detail); a served image already in that format is kept as it
// came.
TEST_P(CliScreenshotFormat, TheExtensionChoosesTheFormatAndThePixelsStay) {
    const ConversionCase& c = GetParam();
    TempDir dumps;
    TempDir work;
    SimProcess sim({"--instrument", c.instrument, "--dump-images", dumps.Path()});
    ASSERT_TRUE(sim.Started());
    const std::string file = work.File(c.file);
    const CliRun run = RunCli(work, {"screenshot", sim.SocketResource(), file});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> served = FileNamesIn(dumps.Path());
    ASSERT_EQ(served.size(), 1u);
    const std::string servedPath = dumps.File(served[0]);

    EXPECT_EQ(FormatOf(file), c.format);
    EXPECT_EQ(FileSays(file).rfind(c.fileSays, 0), 0u) << FileSays(file);
    EXPECT_EQ(ReadFileBytes(file) == ReadFileBytes(servedPath), c.servedAsIs);
    const std::string pixels = PixelsOf(servedPath);
    ASSERT_FALSE(pixels.empty());
    if (std::string(c.format) == "JPEG") {
        EXPECT_EQ(CommandOutput(std::string(QUARVEL_IMAGEMAGICK_IDENTIFY) + " -format %wx%h '" +
                                file + "'"),
                  CommandOutput(std::string(QUARVEL_IMAGEMAGICK_IDENTIFY) + " -format %wx%h '" +
                                servedPath + "'"));
    } else {
        EXPECT_TRUE(PixelsOf(file) == pixels) << "the pixels differ from the served image's";
    }
}

TEST(CliScreenshotProgress, ATerminalShowsTheTransfer) {
    TempDir work;
    // On a terminal (script(1) gives it one) a line shows bytes, total and
    // rate (Ctrl+C: cli_interrupt_test.cpp).
    SimProcess paced({"--instrument", "rigol", "--rate", "2000"});
    const std::string shownFile = work.File("shown.bmp");
    ASSERT_TRUE(paced.Started());
    const std::string command = std::string("script -qec '") + QUARVEL_CLI_PATH + " screenshot " +
                                paced.SocketResource() + " " + shownFile + "' /dev/null";
    int status = -1;
    const std::string shown = CommandOutput(command, &status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_NE(shown.find(" of 1.15 MB ("), std::string::npos) << shown;
    EXPECT_NE(shown.find("B/s"), std::string::npos) << shown;
    EXPECT_TRUE(PathExists(shownFile));
}

TEST(CliScreenshotRefusals, ExistingFileIsKeptUnlessForced) {
    TempDir work;
    SimProcess sim({"--instrument", "infiniivision-x"});
    ASSERT_TRUE(sim.Started());
    const std::string file = work.File("keep.png");
    ASSERT_TRUE(WriteFileBytes(file, "precious"));

    const CliRun refused = RunCli(work, {"screenshot", sim.SocketResource(), file});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFileText(file), "precious");
    // Refused before anything was asked of the instrument.
    EXPECT_TRUE(sim.Transcript().empty());

    const CliRun forced =
        RunCli(work, {"screenshot", "--force", "--ink-saver", sim.SocketResource(), file});
    ASSERT_EQ(forced.exitCode, 0) << forced.err;
    const auto bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 4), "PNG");
    const auto transcript = sim.Transcript();
    EXPECT_NE(std::find(transcript.begin(), transcript.end(), ":HARDCOPY:INKSAVER ON"),
              transcript.end());
}

TEST(CliScreenshotRefusals, FailuresExplainThemselvesAndWriteNothing) {
    TempDir work;
    SimProcess generic({"--instrument", "generic", "--idn", "ACME,WIDGET 9,1,1.0"});
    ASSERT_TRUE(generic.Started());
    const std::string file = work.File("none.png");

    // An unknown instrument: CliUserDefinitionMissing (cli_families_test.cpp).
    const CliRun badAddress = RunCli(work, {"screenshot", "TCPIP0::127.0.0.1::1::SOCKET", file});
    EXPECT_EQ(badAddress.exitCode, 1);
    EXPECT_NE(badAddress.err.find("cannot connect"), std::string::npos) << badAddress.err;

    // An extension that names no format: the formats are listed, nothing
    // is asked of the instrument or written.
    generic.ClearTranscript();
    for (const char* name : {"shot.img", "shot", "shot.png.txt"}) {
        const CliRun noFormat =
            RunCli(work, {"screenshot", generic.SocketResource(), work.File(name)});
        EXPECT_EQ(noFormat.exitCode, 2) << name;
        EXPECT_NE(noFormat.err.find("names no image format; use one of: bmp, "), std::string::npos)
            << noFormat.err;
        EXPECT_NE(noFormat.err.find("png"), std::string::npos) << noFormat.err;
        EXPECT_NE(noFormat.err.find("--raw"), std::string::npos) << noFormat.err;
        EXPECT_FALSE(PathExists(work.File(name)));
    }
    EXPECT_TRUE(generic.Transcript().empty());

    const CliRun usage = RunCli(work, {"screenshot", "--timeout", "soon", "ADDR", file});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.err.find("--timeout"), std::string::npos) << usage.err;

    EXPECT_FALSE(PathExists(file));
}

} // namespace
} // namespace quarvel::test
