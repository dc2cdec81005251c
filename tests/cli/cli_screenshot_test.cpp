// quarvel-cli screenshot, run as a program against quarvel-sim: the file it
// writes holds exactly the image the instrument served, and it refuses to
// replace files or to go on without a driver.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace quarvel::test {
namespace {

// Library: the socket through our own VISA library loaded as another vendor's
// (the raw BMP without block header, the hardest reply to pass through),
// every resource sent to it.
enum class Link { Socket, Vxi11, Usb, Library };

struct FamilyCase {
    const char* instrument;
    Link link;
};

class CliScreenshot : public ::testing::TestWithParam<FamilyCase> {};

INSTANTIATE_TEST_SUITE_P(
    Families, CliScreenshot,
    ::testing::Values(FamilyCase{"fsv", Link::Socket}, FamilyCase{"fsv", Link::Vxi11},
                      FamilyCase{"rigol", Link::Socket}, FamilyCase{"rigol", Link::Vxi11},
                      FamilyCase{"rigol", Link::Usb}, FamilyCase{"tektronix", Link::Socket},
                      FamilyCase{"tektronix", Link::Vxi11}, FamilyCase{"tektronix", Link::Library},
                      // Today's families, which are built-in definitions.
                      FamilyCase{"rigol-mso5000", Link::Socket},
                      FamilyCase{"rigol-dho", Link::Vxi11}, FamilyCase{"siglent-hd", Link::Usb},
                      FamilyCase{"siglent-hd", Link::Library}, FamilyCase{"tek-mso", Link::Socket},
                      FamilyCase{"tek-mso", Link::Library}, FamilyCase{"tek-mdo", Link::Vxi11},
                      FamilyCase{"tek-tbs", Link::Usb}, FamilyCase{"rs-rtb", Link::Usb},
                      FamilyCase{"rs-fsw", Link::Vxi11}, FamilyCase{"keysight-xsa", Link::Socket}),
    [](const auto& info) {
        const Link link = info.param.link;
        std::string name = info.param.instrument;
        std::erase(name, '-');
        return name + (link == Link::Vxi11     ? "_Vxi11"
                       : link == Link::Usb     ? "_Usb"
                       : link == Link::Library ? "_Library"
                                               : "_Socket");
    });

TEST_P(CliScreenshot, WritesTheServedImageByteForByte) {
    TempDir dumps;
    TempDir work;
    SimProcess sim({"--instrument", GetParam().instrument, "--dump-images", dumps.Path()});
    ASSERT_TRUE(sim.Started());
    const std::string file = work.File("screen.img");
    const Link link = GetParam().link;
    const CliRun run =
        link == Link::Vxi11
            ? RunCli(work, {"screenshot", "--portmapper-port", std::to_string(sim.PortmapperPort()),
                            sim.Vxi11Resource(), file})
        : link == Link::Usb
            ? RunCli(work, {"screenshot", "--usbip", sim.UsbipServer(), sim.UsbResource(), file})
        : link == Link::Library
            ? RunCli(work, {"screenshot", "--visa-library-all", QUARVEL_VISA_SHARED_LIBRARY,
                            sim.SocketResource(), file})
            : RunCli(work, {"screenshot", sim.SocketResource(), file});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, ""); // no progress line when standard error is no terminal
    const auto served = ReadDirFiles(dumps.Path());
    ASSERT_EQ(served.size(), 1u);
    EXPECT_EQ(ReadFileBytes(file), served[0]);
    EXPECT_FALSE(served[0].empty());
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
    FILE* terminal = popen(command.c_str(), "r");
    ASSERT_NE(terminal, nullptr);
    std::string shown;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, terminal)) > 0;)
        shown.append(buffer, n);
    EXPECT_EQ(pclose(terminal), 0) << shown;
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

    const CliRun unknown = RunCli(work, {"screenshot", generic.SocketResource(), file});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("ACME,WIDGET 9,1,1.0"), std::string::npos) << unknown.err;

    const CliRun badAddress = RunCli(work, {"screenshot", "TCPIP0::127.0.0.1::1::SOCKET", file});
    EXPECT_EQ(badAddress.exitCode, 1);
    EXPECT_NE(badAddress.err.find("cannot connect"), std::string::npos) << badAddress.err;

    const CliRun usage = RunCli(work, {"screenshot", "--timeout", "soon", "ADDR", file});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.err.find("--timeout"), std::string::npos) << usage.err;

    EXPECT_FALSE(PathExists(file));
}

} // namespace
} // namespace quarvel::test
