// quarvel-cli scpi, run as a program against quarvel-sim.

#include "sim/family_generic.h"
#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

TEST(CliScpi, PrintsEachQueryReplyOverEveryTransport) {
    SimProcess sim({"--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir logs;
    const std::vector<std::string> vxi11 = {
        "--portmapper-port", std::to_string(sim.PortmapperPort()), sim.Vxi11Resource()};
    const std::vector<std::string> usb = {"--usbip", sim.UsbipServer(), sim.UsbResource()};
    for (const std::vector<std::string>& target : {vxi11, usb, {sim.SocketResource()}}) {
        std::vector<std::string> args = {"scpi"};
        args.insert(args.end(), target.begin(), target.end());
        args.insert(args.end(), {"*IDN?", "*CLS", "*OPC?"});
        const CliRun r = RunCli(logs, args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "ACME,X1,1,1.0\n1\n");
    }
    // Every command reached the instrument, the one without '?' too.
    const auto transcript = sim.Transcript();
    ASSERT_EQ(transcript.size(), 9u);
    EXPECT_EQ(transcript[1], "*CLS");
}

std::string TestBlock(std::size_t length) {
    std::string data(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        data[i] = static_cast<char>(quarvel::sim::TestBlockByte(i));
    return data;
}

// Both LAN transports of one simulator, as quarvel-cli scpi arguments.
std::vector<std::vector<std::string>> Targets(const SimProcess& sim) {
    return {{"--portmapper-port", std::to_string(sim.PortmapperPort()), sim.Vxi11Resource()},
            {sim.SocketResource()}};
}

CliRun Scpi(const TempDir& logs, const std::vector<std::string>& target,
            const std::vector<std::string>& commands) {
    std::vector<std::string> args = {"scpi"};
    args.insert(args.end(), target.begin(), target.end());
    args.insert(args.end(), commands.begin(), commands.end());
    return RunCli(logs, args);
}

TEST(CliScpi, RepliesAreReadWholeAndBlocksWrittenAsTheirData) {
    // A text reply longer than a read piece, and blocks of several MB whose
    // data holds line feeds (which end reads on a raw socket).
    const std::string longIdn = "ACME," + std::string(70000, 'M') + ",1,1.0";
    SimProcess sim({"--idn", longIdn});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir logs;
    const std::string block = TestBlock(4'500'000);
    for (const auto& target : Targets(sim)) {
        SCOPED_TRACE(target.back());
        const CliRun r = Scpi(logs, target, {":TEST:BLOCK? 4500000", "*OPC?", "*IDN?"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.out == block + "1\n" + longIdn + "\n") << r.out.size() << " bytes";
    }
    // "#0": the data runs to the end of the message, whose terminator is no
    // data (over VXI-11 its END; a raw socket ends it at the first line feed).
    const CliRun r = Scpi(logs, Targets(sim)[0], {":TEST:BLOCK? 300000,INDEFINITE", "*OPC?"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out == TestBlock(300000) + "1\n") << r.out.size() << " bytes";
}

TEST(CliScpi, ACutReplyIsAnErrorNeverASilentCut) {
    TempDir logs;
    for (const char* fault : {"--block-cut", "--drop-mid-reply"}) {
        std::vector<std::string> args = {fault};
        if (std::string(fault) == "--block-cut")
            args.push_back("1000000");
        SimProcess sim(args);
        ASSERT_TRUE(sim.Started()) << sim.Output();
        for (auto target : Targets(sim)) {
            SCOPED_TRACE(std::string(fault) + " " + target.back());
            target.insert(target.begin(), {"--timeout", "500"});
            const CliRun r = Scpi(logs, target, {":TEST:BLOCK? 4500000"});
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_NE(r.err.find("reading the reply to ':TEST:BLOCK? 4500000'"), std::string::npos)
                << r.err;
            EXPECT_LT(r.out.size(), 4'500'000u);
        }
    }
}

TEST(CliScpi, FailuresGiveAStatusNameAndNonZeroExit) {
    TempDir logs;
    CliRun r = RunCli(logs, {"scpi", "TCPIP0::127.0.0.1::notaport::SOCKET", "*IDN?"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE((r.out + r.err).find("VI_ERROR_INV_RSRC_NAME (0xBFFF0012)"), std::string::npos)
        << r.out << r.err;

    SimProcess sim({"--delay-ms", "2000"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    r = RunCli(logs, {"scpi", "--timeout", "200", sim.SocketResource(), "*IDN?"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE((r.out + r.err).find("VI_ERROR_TMO (0xBFFF0015)"), std::string::npos)
        << r.out << r.err;

    EXPECT_EQ(RunCli(logs, {"scpi", "--timeout", "x", sim.SocketResource(), "*IDN?"}).exitCode, 2);
    EXPECT_EQ(RunCli(logs, {"scpi", sim.SocketResource()}).exitCode, 2);
}

TEST(CliHelp, EachCommandPrintsItsUsageAndTheVersionComesFromTheProject) {
    TempDir logs;
    for (const char* command : {"scpi", "screenshot", "capture"}) {
        const CliRun r = RunCli(logs, {command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: quarvel-cli ") + command + " ", 0), 0u) << r.out;
    }
    EXPECT_NE(RunCli(logs, {"capture", "--help"}).out.find("--data-format"), std::string::npos);
    const CliRun version = RunCli(logs, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quarvel-cli " QUARVEL_PROJECT_VERSION "\n");
    const CliRun unknown = RunCli(logs, {"--bogus"});
    EXPECT_EQ(unknown.exitCode, 2);
}

} // namespace
} // namespace quarvel::test
