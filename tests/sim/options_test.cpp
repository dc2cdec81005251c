// quarvel-sim's command line: option parsing and the errors for bad values.

#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include "tests/sim/sim_test_client.h"
#include "tests/support/cli_run.h"
#include "visa/visa.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarvel::sim {
namespace {

using test::Words;

bool Parse(const std::vector<std::string>& args, SimOptions& o, std::string& error) {
    o = SimOptions();
    return ParseSimOptions(args, o, error);
}

TEST(SimOptions, BadArgumentsAreRefusedWithAMessage) {
    for (const char* args :
         {"--idn \"\"", "--address 0.0.0.0", "--address 192.168.1.5", "--address localhost",
          "--instrument oscilloscope", "--socket-port 65536", "--socket-port -1",
          "--portmapper-port 12x", "--hislip-port 4880x", "--hislip-fragment 0", "--delay-ms",
          "--tiny-pieces 0", "--rate 0", "--max-recv-size 0", "--rigol-block-tail 2", "--verbose",
          // A habit belongs to the chosen instrument and takes its own values;
          // an image query is the made-up instrument's.
          "--instrument rigol --habit block-tail=1", "--instrument rigol-dho --habit png-as-bmp=on",
          "--instrument tek-tbs --habit hardcopy-delay-ms=-1",
          "--instrument tek-tbs --habit hardcopy-delay-ms=600001",
          "--instrument siglent-hd --habit file-tail", "--habit =1",
          "--instrument rs-rtb --habit display-update=yes", "--image-framing chunks",
          "--image-query :DISP:[SHOT?", "--instrument rigol --image-query :DISP:SHOT?"}) {
        SimOptions o;
        std::string error;
        EXPECT_FALSE(Parse(Words(args), o, error)) << args;
        EXPECT_FALSE(error.empty()) << args;
    }
}

// Habits are taken whatever the order of the options.
TEST(SimOptions, HabitsAndImageOptionsGoToTheInstrumentsSetup) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(Parse(Words("--habit block-tail=0 --instrument rigol-mso5000 --habit "
                            "td-persists=on --habit block-tail=3"),
                      o, error))
        << error;
    InstrumentSetup setup = SetupFor(o);
    EXPECT_EQ(setup.habits.Number("block-tail", -1), 3) << "the last one given counts";
    EXPECT_TRUE(setup.habits.On("td-persists"));
    ASSERT_TRUE(Parse(Words("--image-query :DISP:SHOT? --image-framing raw"), o, error)) << error;
    EXPECT_TRUE(SetupFor(o).imageRaw);
}

TEST(SimOptions, TheProgramExitsWithAStatusOnBadOptionsAndPrintsItsVersion) {
    test::TempDir dir;
    const std::string sim = std::string(QUARVEL_SIM_PATH) + " ";
    const std::string err = " 2>" + dir.File("err");
    int status = 0;
    test::CommandOutput(sim + "--address 0.0.0.0" + err, &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;

    // A recording that cannot be created stops the start, naming the file.
    const std::string pcap = dir.File("no/such/dir.pcap");
    test::CommandOutput(sim + "--socket-port 0 --portmapper-port none --hislip-port none --pcap " +
                            pcap + err,
                        &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(test::ReadFileText(dir.File("err")),
              "quarvel-sim: pcap: " + pcap + ": No such file or directory\n");

    EXPECT_EQ(test::CommandOutput(sim + "--version" + err, &status),
              "quarvel-sim " QUARVEL_PROJECT_VERSION "\n");
    EXPECT_EQ(status, 0);
    // Neither --version nor --help starts Qt: nothing on standard error.
    EXPECT_EQ(test::ReadFileText(dir.File("err")), "");
}

TEST(SimOptions, SigtermEndsTheProgramCleanlyAfterItPrintedItsEndpoints) {
    test::TempDir dir;
    const std::string out = dir.File("out.txt");
    const std::string err = dir.File("err.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        // As run by root from a plain shell: no display, no runtime directory.
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"})
            unsetenv(name);
        freopen(out.c_str(), "w", stdout);
        freopen(err.c_str(), "w", stderr);
        execl(QUARVEL_SIM_PATH, QUARVEL_SIM_PATH, "--instrument", "rigol", "--socket-port", "0",
              "--portmapper-port", "none", "--hislip-port", "none", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    std::string text;
    for (int i = 0; i < 500 && text.find("vxi11 ") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        text = test::ReadFileText(out);
    }
    // Exactly the two endpoint lines, in order, and nothing for the portmapper
    // or HiSLIP.
    EXPECT_EQ(text.rfind("socket 127.0.0.1:", 0), 0u) << text;
    EXPECT_NE(text.find("\nvxi11 127.0.0.1:"), std::string::npos) << text;
    EXPECT_EQ(text.find("portmapper"), std::string::npos) << text;
    EXPECT_EQ(text.find("hislip"), std::string::npos) << text;

    // It draws its screen image all the same, and says nothing about it.
    const std::string port = text.substr(17, text.find('\n') - 17);
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, ("TCPIP0::127.0.0.1::" + port + "::SOCKET").c_str(), VI_NULL, 0, &vi),
              VI_SUCCESS);
    std::vector<ViByte> image(2'000'000);
    ViUInt32 count = static_cast<ViUInt32>(image.size());
    EXPECT_EQ(viQueryf(vi, ":DISP:DATA?\n", "%#b\n", &count, image.data()), VI_SUCCESS);
    EXPECT_EQ(count, 1152054u);
    viClose(rm);

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::ReadFileText(err), "");
}

} // namespace
} // namespace quarvel::sim
