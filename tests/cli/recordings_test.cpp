// The recordings corpus (tests/recordings/): I/O logs that re-create real
// instruments' dialogues from public bug reports and programming guides, each
// played by quarvel-sim --replay and talked to by quarvel-cli as the
// original program did. A departure from the recording fails the test with
// the simulator's words.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

enum class Link { Socket, Usb };

struct Recording {
    const char* file;
    Link link;
    std::vector<std::string> simArgs; // besides --replay
    std::vector<std::string> command; // quarvel-cli's command and its arguments before the address
    std::vector<std::string> after;   // arguments after the address
    std::string expectedOutput;       // standard output, whole
    std::string expectedFile = "";    // what FILE must hold, byte for byte ("": no file)
};

class RecordingReplay : public ::testing::TestWithParam<Recording> {};

TEST_P(RecordingReplay, QuarvelFollowsTheRecordedDialogue) {
    const Recording& r = GetParam();
    const std::string log = std::string(QUARVEL_RECORDINGS_DIR) + "/" + r.file;
    std::vector<std::string> simArgs = {"--replay", log, "--replay-speed", "0"};
    simArgs.insert(simArgs.end(), r.simArgs.begin(), r.simArgs.end());
    SimProcess sim(simArgs);
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir work;
    TempDir logs;
    std::vector<std::string> args = r.command;
    if (r.link == Link::Usb) {
        args.insert(args.end(), {"--usbip", sim.UsbipServer(), sim.UsbResource()});
    } else {
        args.push_back(sim.SocketResource());
    }
    for (const std::string& arg : r.after)
        args.push_back(arg == "FILE" ? work.File("screen.bmp") : arg);
    const CliRun run = RunCli(logs, args);
    EXPECT_EQ(run.exitCode, 0) << run.err << sim.Output();
    std::string expected = r.expectedOutput;
    if (const auto at = expected.find("FILE"); at != std::string::npos)
        expected.replace(at, 4, work.File("screen.bmp"));
    EXPECT_EQ(run.out, expected) << run.err;
    EXPECT_EQ(sim.Output().find("departed"), std::string::npos) << sim.Output();
    if (!r.expectedFile.empty()) {
        EXPECT_EQ(ReadFileText(work.File("screen.bmp")), r.expectedFile);
    }
}

// The 2x2 BMP of sds1104x-e-screen-dump.log, as Quarvel must write it: the
// file the header sizes, without the line feed after it.
std::string SampleBmp() {
    const unsigned char bytes[] = {'B',  'M',  70,   0, 0, 0, 0,    0, 0, 0,    54,   0,    0, 0,
                                   40,   0,    0,    0, 2, 0, 0,    0, 2, 0,    0,    0,    1, 0,
                                   24,   0,    0,    0, 0, 0, 16,   0, 0, 0,    0x13, 0x0b, 0, 0,
                                   0x13, 0x0b, 0,    0, 0, 0, 0,    0, 0, 0,    0,    0,    0, 0,
                                   0xff, 0,    0xff, 0, 0, 0, 0xff, 0, 0, 0xff, 0xff, 0xff, 0, 0};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, RecordingReplay,
    ::testing::Values(
        Recording{"ds1000z-usbtmc-64byte-packets.log",
                  Link::Usb,
                  {"--usb-full-speed"},
                  {"scpi"},
                  {"*IDN?", ":TRIG:STAT?"},
                  "RIGOL TECHNOLOGIES,DS1074Z,DS1ZA000000001,00.04.04.SP1\nSTOP\n"},
        Recording{"dg1000z-stray-nul.log",
                  Link::Usb,
                  {},
                  {"scpi"},
                  {"*IDN?", ":SOUR1:FREQ?", ":OUTP1?"},
                  // The NUL is no line end: quarvel-cli prints it as part of
                  // the reply, which then gets a line end of its own.
                  std::string("Rigol Technologies,DG1062Z,DG1ZA000000001,00.01.14\n"
                              "1.000000E+03\n\0\nOFF\n\0\n",
                              72)},
        Recording{
            "dho804-raw-socket.log",
            Link::Socket,
            {},
            {"scpi"},
            {"*IDN?", ":CHAN1:DISP?", ":CHAN2:DISP?", ":CHAN3:DISP?", ":CHAN4:DISP?", ":TIM:SCAL?"},
            "RIGOL TECHNOLOGIES,DHO804,DHO8A254403951,00.01.02.00.00\n1\n1\n1\n0\n"
            "2.000000E-6\n"},
        Recording{"sds1104x-e-screen-dump.log",
                  Link::Socket,
                  {},
                  {"screenshot"},
                  {"FILE"},
                  "Siglent Technologies,SDS1104X-E,SDSMMQVSIM0001,6.1.37R10: 70 bytes written "
                  "to FILE\n",
                  SampleBmp()},
        Recording{"mso5000-trig-stat-wav-data.log",
                  Link::Socket,
                  {},
                  {"scpi"},
                  {"*IDN?", "WAV:FORM BYTE", "WAV:MODE RAW", "SING", "TRIG:STAT?", "ACQ:MDEP?",
                   "WAV:SOUR CHAN1", "WAV:DATA?"},
                  "RIGOL TECHNOLOGIES,MSO5074,MS5A221301338,00.01.03.00.01\nTD\n4.0000E+06\n"
                  // A block's data is printed as it came, without a line end.
                  "\x7f\x80\x81\x83\x86\x88\x89\x89\x88\x86\x83\x81\x80\x7e\x7c\x7b"}),
    [](const auto& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.'));
        for (char& c : name)
            if (c == '-')
                c = '_';
        return name;
    });

} // namespace
} // namespace quarvel::test
