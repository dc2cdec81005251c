// quarvel-cli capture with waveform data: the image and its data under the
// same name, against quarvel-sim.
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

namespace {

using quarvel::test::PathExists;
using quarvel::test::ReadFileBytes;
using quarvel::test::ReadFileText;
using quarvel::test::SimProcess;
using quarvel::test::TempDir;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs quarvel-cli (no argument may contain a quote), output into `logs`.
CliRun RunCli(const TempDir& logs, const std::vector<std::string>& args) {
    std::string command = QUARVEL_CLI_PATH;
    for (const auto& a : args) {
        command += " '" + a + "'";
    }
    command += " >" + logs.File("cli.out") + " 2>" + logs.File("cli.err") + " </dev/null";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFileText(logs.File("cli.out"));
    run.err = ReadFileText(logs.File("cli.err"));
    return run;
}

} // namespace

TEST(CliWaveforms, ImageAndDataUnderTheSameName) {
    SimProcess sim({"--instrument", "infiniivision-x"});
    ASSERT_TRUE(sim.Started());
    TempDir shots;
    TempDir logs;
    const std::vector<std::string> base = {
        "capture", sim.SocketResource(), "--dir", shots.Path(), "--name", "shot"};

    std::vector<std::string> csv = base;
    csv.insert(csv.end(), {"--waveforms", "CHAN1,CHAN2", "--data-format", "csv"});
    const CliRun first = RunCli(logs, csv);
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_NE(first.out.find("Getting waveform data for channel CHAN2..."), std::string::npos);
    EXPECT_NE(first.out.find("Waveform data saving done."), std::string::npos);
    EXPECT_TRUE(PathExists(shots.File("shot.png")));
    EXPECT_EQ(ReadFileText(shots.File("shot.csv"))
                  .rfind("time/s;CHAN1(voltage/V);CHAN2(voltage/V)\r\n", 0),
              0u);

    std::vector<std::string> dirfile = base;
    dirfile.insert(dirfile.end(), {"--waveforms", " CHAN3 ", "--data-format", "DIRFILE"});
    const CliRun second = RunCli(logs, dirfile);
    ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
    EXPECT_TRUE(PathExists(shots.File("shot-0001.png")));
    EXPECT_EQ(ReadFileText(shots.File("shot-0001/format")), "xaxis.dat\tRAW\tFLOAT64\t1\r\n"
                                                            "CHAN3.dat\tRAW\tFLOAT64\t1\r\n");

    // The default format is CSV; without --waveforms no data is read.
    std::vector<std::string> plain = base;
    plain.insert(plain.end(), {"--waveforms", "CHAN4"});
    ASSERT_EQ(RunCli(logs, plain).exitCode, 0);
    EXPECT_TRUE(PathExists(shots.File("shot-0002.csv")));
    const CliRun imageOnly = RunCli(logs, base);
    ASSERT_EQ(imageOnly.exitCode, 0);
    EXPECT_EQ(imageOnly.out.find("waveform"), std::string::npos);
    EXPECT_FALSE(PathExists(shots.File("shot-0003.csv")));
}

TEST(CliWaveforms, BadValuesAreRefused) {
    TempDir logs;
    const std::string address = "TCPIP0::127.0.0.1::1::SOCKET";
    const CliRun format = RunCli(logs, {"capture", address, "--data-format", "xls"});
    EXPECT_EQ(format.exitCode, 2);
    EXPECT_NE(format.err.find("--data-format"), std::string::npos);
    const CliRun channels = RunCli(logs, {"capture", address, "--waveforms", " , "});
    EXPECT_EQ(channels.exitCode, 2);
    EXPECT_NE(channels.err.find("--waveforms"), std::string::npos);
}
