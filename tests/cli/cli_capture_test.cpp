// quarvel-cli capture, run as a program against quarvel-sim: numbered files
// with comments entries, waveform data under the image's name, the texts on
// the right streams, and its exit status.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

// The options reach the names and the format; a missing folder is made,
// parents and all, as mkdir -p does.
TEST(CliCapture, OptionsReachTheNamesAndTheFormatAndTheFolderIsMade) {
    SimProcess sim({"--instrument", "rigol"});
    ASSERT_TRUE(sim.Started());
    TempDir logs;
    const std::string folder = logs.File("shots/bench 1/today");
    const CliRun run =
        RunCli(logs, {"capture", sim.SocketResource(), "--dir", folder, "--name", "scope",
                      "--sequence", "41", "--format", "BMP", "--comments-file", "log.txt",
                      "--comments", "x", "--save-idn", "--delay", "1"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Capture delay, 1 seconds remaining\n"), std::string::npos);
    EXPECT_EQ(ReadFileText(folder + "/scope.bmp").rfind("BM", 0), 0u);
    EXPECT_NE(ReadFileText(folder + "/log.txt").find("* Instrument ID: RIGOL"), std::string::npos);
    // The directory now holds scope.bmp, so the number given is used.
    const CliRun again = RunCli(logs, {"capture", sim.SocketResource(), "--dir", folder, "--name",
                                       "scope", "--sequence", "41", "--format", "bmp"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(PathExists(folder + "/scope-0041.bmp"));
}

// The numbered files, waveform data under the image's name, the status and
// the comments (the same capture over USB: ScopeWaveforms' Usb cases).
TEST(CliCapture, ImageDataStatusAndCommentsUnderTheirNames) {
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

    // The default format is CSV.
    std::vector<std::string> plain = base;
    plain.insert(plain.end(), {"--waveforms", "CHAN4"});
    ASSERT_EQ(RunCli(logs, plain).exitCode, 0);
    EXPECT_TRUE(PathExists(shots.File("shot-0002.csv")));
    // Without --waveforms no data is read; the status goes to standard
    // output, the comments to their log.
    const CliRun status = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                        "--comments", "bench run", "--stop"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_NE(status.out.find("Instrument connected\n"), std::string::npos);
    EXPECT_NE(status.out.find("Data capture finished. Screenshot saved successfully to " +
                              shots.File("Screenshot.png") + ". \n"),
              std::string::npos)
        << status.out;
    EXPECT_EQ(status.out.find("waveform"), std::string::npos);
    EXPECT_FALSE(PathExists(shots.File("Screenshot.csv")));
    EXPECT_NE(ReadFileText(shots.File("Comments.txt")).find("bench run\r\n"), std::string::npos);
}

TEST(CliCapture, FailuresGiveANonZeroExitAndTheMessageOnStandardError) {
    SimProcess sim({"--instrument", "infiniivision-x"});
    ASSERT_TRUE(sim.Started());
    TempDir logs;
    ASSERT_TRUE(WriteFileBytes(logs.File("plain"), "a file"));
    struct Refusal {
        std::vector<std::string> args; // after the simulator's address
        int exitCode;
        std::string err; // a part of standard error
        // A part of the status line of a capture that ran; "": refused before
        // the instrument was asked anything.
        std::string out = "";
    };
    const Refusal refusals[] = {
        {{"--dir", logs.File("plain/shots")},
         1,
         "'" + logs.File("plain") + "' is a file, not a folder"},
        // The image encoder refuses to write: the capture fails and says so
        // (a name with bad time specifiers: the controller's
        // InvalidSpecifierFailsTheSaveInBothModesButShowsTheNewPicture).
        {{"--dir", "/proc"}, 1, "Saving failed\n", "Data capture finished. Error: Saving failed. "},
        {{"--format", "nope"}, 2, "--format 'nope' names no image format; use one of: bmp, "},
        {{"--delay", "6001"}, 2, "--delay"},
        {{"--bogus"}, 2, "--bogus"},
        {{"--data-format", "xls"}, 2, "--data-format"},
        {{"--waveforms", " , "}, 2, "--waveforms"},
    };
    for (const Refusal& r : refusals) {
        sim.ClearTranscript();
        std::vector<std::string> args = {"capture", sim.SocketResource()};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const CliRun run = RunCli(logs, args);
        EXPECT_EQ(run.exitCode, r.exitCode) << r.args[0];
        EXPECT_NE(run.err.find(r.err), std::string::npos) << run.err;
        EXPECT_NE(run.out.find(r.out), std::string::npos) << run.out;
        EXPECT_EQ(sim.Transcript().empty(), r.out.empty()) << r.args[0];
    }
    EXPECT_EQ(RunCli(logs, {"capture"}).exitCode, 2);
}

} // namespace
} // namespace quarvel::test
