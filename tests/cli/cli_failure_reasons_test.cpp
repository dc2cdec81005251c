// quarvel-cli says why a capture or screenshot failed, after the texts it
// always printed: nothing at the address, a reply that never came, a reply
// that is no image (a link lost mid-transfer: CaptureFailureReason in
// tests/capture, through the controller quarvel-cli capture runs).

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

struct Case {
    const char* name;
    std::vector<std::string> simArgs;
    const char* command;               // "capture" or "screenshot"
    std::vector<std::string> expected; // in the standard output and error together
};

class CliFailureReason : public ::testing::TestWithParam<Case> {};

TEST_P(CliFailureReason, SaysWhy) {
    const Case& c = GetParam();
    SimProcess sim(c.simArgs);
    ASSERT_TRUE(sim.Started());
    TempDir dir;
    TempDir logs;
    const std::string address = c.simArgs.empty()
                                    ? "TCPIP0::127.0.0.1::1::SOCKET" // nothing listens there
                                    : sim.SocketResource();
    std::vector<std::string> args = {c.command};
    if (std::string(c.command) == "capture")
        args.insert(args.end(), {address, "--dir", dir.Path(), "--timeout", "500"});
    else
        args.insert(args.end(), {"--timeout", "500", address, dir.File("shot.png")});
    const CliRun run = RunCli(logs, args);
    EXPECT_EQ(run.exitCode, 1);
    const std::string said = run.out + run.err;
    for (const std::string& text : c.expected)
        EXPECT_NE(said.find(text), std::string::npos) << text << "\n" << said;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CliFailureReason,
    ::testing::Values(
        Case{"ConnectionRefused",
             {},
             "capture",
             {"Connect failed!\nnothing answers at that address",
              "Connect failed: nothing answers at that address", "(connection refused)"}},
        Case{"IdentificationTimeout",
             {"--instrument", "rigol", "--delay-ms", "3000", "--fault-on", "*IDN?"},
             "screenshot",
             {"quarvel-cli screenshot: *IDN? query failed: the instrument sent nothing for ",
              "after '*IDN?' while waiting for the identification (timeout)"}},
        Case{"NotAnImage",
             {"--instrument", "rigol", "--garbage", "--fault-on", ":DISPlay:DATA?"},
             "screenshot",
             {"screen image transfer from 'RIGOL TECHNOLOGIES,DS1054Z,DS1ZA000000001,00.04.04.SP3' "
              "failed: the reply to ':DISP:DATA?' is no image",
              "(not an image)"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quarvel::test
