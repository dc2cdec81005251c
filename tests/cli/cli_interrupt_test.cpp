// Ctrl+C in quarvel-cli, run as a program against quarvel-sim: SIGINT while
// a transfer is under way cancels it, the command ends with status 130 and
// writes nothing of that transfer (no file, no comments entry, no part of a
// reply), for every command that talks to an instrument.

#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarvel::test {
namespace {

struct InterruptCase {
    const char* name;
    std::vector<std::string> simArgs;
    // The command's arguments; "ADDR" stands for the simulator's address,
    // "DIR" for the work directory.
    std::vector<std::string> args;
    // The interrupt comes once this command has reached the instrument.
    const char* awaited;
    // Standard output, whole; or, for capture's status lines, its last line.
    const char* output;
    bool lastLineOnly = false;
};

// Starts quarvel-cli with standard output to outPath and standard error
// to /dev/null (no terminal: no progress line).
pid_t StartCli(const std::vector<std::string>& args, const std::string& outPath) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_WRONLY);
        dup2(out, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(QUARVEL_CLI_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(QUARVEL_CLI_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

bool Arrived(const SimProcess& sim, const std::string& command) {
    const std::vector<std::string> commands = sim.Transcript();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

class CliInterrupt : public ::testing::TestWithParam<InterruptCase> {};

INSTANTIATE_TEST_SUITE_P(Commands, CliInterrupt,
                         ::testing::Values(
                             // The instrument has not answered the screen query yet; a long
                             // timeout, so that only Ctrl+C ends the wait.
                             InterruptCase{"screenshot",
                                           {"--instrument", "rigol", "--delay-ms", "5000",
                                            "--fault-on", ":DISPlay:DATA?"},
                                           {"--timeout", "60000", "ADDR", "DIR/screen.bmp"},
                                           ":DISP:DATA?",
                                           ""},
                             InterruptCase{"capture",
                                           {"--instrument", "rigol", "--delay-ms", "5000",
                                            "--fault-on", ":DISPlay:DATA?"},
                                           {"ADDR", "--timeout", "60000", "--dir", "DIR",
                                            "--comments", "never written", "--save-idn"},
                                           ":DISP:DATA?",
                                           "Capture cancelled.\n",
                                           true},
                             // The block has begun: 1000 of its 100000 bytes came, the rest never
                             // does. The reply of the query before it is printed, nothing of the
                             // block.
                             InterruptCase{
                                 "scpi",
                                 {"--idn", "ACME,X1,1,1.0", "--block-cut", "1000", "--fault-on",
                                  ":TEST:BLOCK?"},
                                 {"--timeout", "60000", "ADDR", "*IDN?", ":TEST:BLOCK? 100000"},
                                 ":TEST:BLOCK? 100000",
                                 "ACME,X1,1,1.0\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(CliInterrupt, CtrlCCancelsTheTransferAndWritesNothingOfIt) {
    TempDir work;
    TempDir logs;
    SimProcess sim(GetParam().simArgs);
    ASSERT_TRUE(sim.Started()) << sim.Output();
    std::vector<std::string> args{GetParam().name};
    for (std::string a : GetParam().args) {
        if (a == "ADDR")
            a = sim.SocketResource();
        else if (a.rfind("DIR", 0) == 0)
            a.replace(0, 3, work.Path());
        args.push_back(a);
    }
    const std::string outPath = logs.File("cli.out");
    const pid_t pid = StartCli(args, outPath);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 1000 && !Arrived(sim, GetParam().awaited); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Arrived(sim, GetParam().awaited));
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_TRUE(ReadDirFiles(work.Path()).empty());
    std::string out = ReadFileText(outPath);
    if (GetParam().lastLineOnly && out.size() > 1)
        out.erase(0, out.find_last_of('\n', out.size() - 2) + 1);
    EXPECT_EQ(out, GetParam().output);
}

} // namespace
} // namespace quarvel::test
