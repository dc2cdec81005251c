// quarvel-cli scpi, run as a program against quarvel-sim.

#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

using quarvel::test::SimProcess;

namespace {

struct CliResult {
    int exitCode = -1;
    std::string output; // standard output and error together
};

CliResult RunCli(const std::string& arguments) {
    CliResult result;
    const std::string command = std::string(QUARVEL_CLI_PATH) + " scpi " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace

TEST(VisaScpiCli, PrintsEachQueryReplyOverBothTransports) {
    SimProcess sim({"--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    const std::string vxi11 =
        "--portmapper-port " + std::to_string(sim.PortmapperPort()) + " " + sim.Vxi11Resource();
    for (const std::string& target : {vxi11, sim.SocketResource()}) {
        const CliResult r = RunCli(target + " '*IDN?' '*CLS' '*OPC?'");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output, "ACME,X1,1,1.0\n1\n");
    }
    // Every command reached the instrument, the one without '?' too.
    const auto transcript = sim.Transcript();
    ASSERT_EQ(transcript.size(), 6u);
    EXPECT_EQ(transcript[1], "*CLS");
}

TEST(VisaScpiCli, FailuresGiveAStatusNameAndNonZeroExit) {
    CliResult r = RunCli("'TCPIP0::127.0.0.1::notaport::SOCKET' '*IDN?'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("VI_ERROR_INV_RSRC_NAME (0xBFFF0012)"), std::string::npos) << r.output;

    SimProcess sim({"--delay-ms", "2000"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    r = RunCli("--timeout 200 " + sim.SocketResource() + " '*IDN?'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("VI_ERROR_TMO (0xBFFF0015)"), std::string::npos) << r.output;

    r = RunCli("--timeout x " + sim.SocketResource() + " '*IDN?'");
    EXPECT_EQ(r.exitCode, 2);
    r = RunCli(sim.SocketResource());
    EXPECT_EQ(r.exitCode, 2);
}
