// quarvel-cli scpi, run as a program against quarvel-sim.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

TEST(CliScpi, PrintsEachQueryReplyOverBothTransports) {
    SimProcess sim({"--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir logs;
    const std::vector<std::string> vxi11 = {
        "--portmapper-port", std::to_string(sim.PortmapperPort()), sim.Vxi11Resource()};
    for (const std::vector<std::string>& target : {vxi11, {sim.SocketResource()}}) {
        std::vector<std::string> args = {"scpi"};
        args.insert(args.end(), target.begin(), target.end());
        args.insert(args.end(), {"*IDN?", "*CLS", "*OPC?"});
        const CliRun r = RunCli(logs, args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "ACME,X1,1,1.0\n1\n");
    }
    // Every command reached the instrument, the one without '?' too.
    const auto transcript = sim.Transcript();
    ASSERT_EQ(transcript.size(), 6u);
    EXPECT_EQ(transcript[1], "*CLS");
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

} // namespace
} // namespace quarvel::test
