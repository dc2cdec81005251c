// The I/O log end to end: a capture with QUARVEL_IO_LOG writes a log that
// parses back and holds exactly what went over the link; quarvel-sim
// --replay plays that log, and the same capture against the replay gives
// byte-identical files, for every simulated family, also on another link
// than the one recorded.

#include "codec/io_log_format.h"
#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <utility>

namespace quarvel::test {
namespace {

namespace iolog = visa::iolog;

// Sets an environment variable for the scope (quarvel-cli inherits it).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { unsetenv(m_name); }

private:
    const char* m_name;
};

struct ParsedLog {
    std::vector<iolog::Record> records;
    std::string dataFile;
    std::string error; // the first line that did not parse
};

ParsedLog ParseLog(const std::string& text) {
    ParsedLog log;
    std::istringstream lines(text);
    std::string line;
    iolog::Header header;
    for (int number = 1; std::getline(lines, line); ++number) {
        iolog::Record record;
        std::string error;
        const auto kind = iolog::ParseLine(line, header, record, error);
        if (!kind) {
            log.error = "line " + std::to_string(number) + ": " + error;
            return log;
        }
        if (*kind == iolog::LineKind::Record)
            log.records.push_back(record);
    }
    log.dataFile = header.dataFile;
    return log;
}

enum class Link { Usb, Vxi11, Socket };

struct Persona {
    const char* family;
    Link recorded;
    Link replayed;
    const char* sources = "CHAN1,CHAN2";
};

class IoLogRoundTrip : public ::testing::TestWithParam<Persona> {};

std::vector<std::string> CaptureArgs(const SimProcess& sim, Link link, const std::string& dir,
                                     const char* sources) {
    std::vector<std::string> args = {"capture"};
    if (link == Link::Usb)
        args.insert(args.end(), {sim.UsbResource(), "--usbip", sim.UsbipServer()});
    else if (link == Link::Vxi11)
        args.insert(args.end(), {sim.Vxi11Resource(), "--portmapper-port",
                                 std::to_string(sim.PortmapperPort())});
    else
        args.push_back(sim.SocketResource());
    args.insert(args.end(), {"--dir", dir, "--stop", "--waveforms", sources});
    return args;
}

TEST_P(IoLogRoundTrip, ReplayedCaptureGivesTheSameFiles) {
    const Persona persona = GetParam();
    TempDir work;
    TempDir logs;
    const std::string logPath = work.File("capture.log");
    const std::string recordedDir = work.File("recorded");
    const std::string replayedDir = work.File("replayed");
    ASSERT_EQ(mkdir(recordedDir.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(replayedDir.c_str(), 0700), 0);
    std::vector<std::string> sent;
    {
        SimProcess sim({"--instrument", persona.family});
        ASSERT_TRUE(sim.Started());
        const ScopedEnv log("QUARVEL_IO_LOG", logPath);
        const ScopedEnv data("QUARVEL_IO_LOG_DATA", "1");
        const CliRun run =
            RunCli(logs, CaptureArgs(sim, persona.recorded, recordedDir, persona.sources));
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        sent = sim.Transcript();
    }
    const ParsedLog log = ParseLog(ReadFileText(logPath));
    ASSERT_TRUE(log.error.empty()) << log.error;
    ASSERT_EQ(log.dataFile, "capture.log.data");
    // The log holds what was sent and nothing else: the writes, cut where
    // the instrument cuts messages, are the simulator's transcript; the side
    // file holds the binary payloads the lines name, and no byte more.
    std::string written;
    std::uint64_t binaryBytes = 0;
    for (const iolog::Record& r : log.records) {
        if (r.op == iolog::Op::Write)
            written += r.payload.text + (r.end == iolog::End::Yes && (r.payload.text.empty() ||
                                                                      r.payload.text.back() != '\n')
                                             ? "\n"
                                             : "");
        if (r.payload.kind == iolog::Payload::Kind::Binary) {
            ASSERT_TRUE(r.payload.at.has_value());
            EXPECT_EQ(*r.payload.at, binaryBytes);
            binaryBytes += r.payload.size;
        }
    }
    std::string transcript;
    for (const std::string& message : sent)
        transcript += message + "\n";
    EXPECT_EQ(written, transcript);
    EXPECT_EQ(ReadFileBytes(work.File("capture.log.data")).size(), binaryBytes);
    const auto recorded = FileNamesIn(recordedDir);
    ASSERT_EQ(recorded.size(), 2u); // the image and the data

    SimProcess replay({"--replay", logPath, "--replay-speed", "0"});
    ASSERT_TRUE(replay.Started()) << replay.Output();
    const CliRun again =
        RunCli(logs, CaptureArgs(replay, persona.replayed, replayedDir, persona.sources));
    ASSERT_EQ(again.exitCode, 0) << again.out << again.err << replay.Output();
    EXPECT_EQ(FileNamesIn(replayedDir), recorded);
    EXPECT_EQ(ReadDirFiles(replayedDir), ReadDirFiles(recordedDir));
    EXPECT_EQ(replay.Output().find("departed"), std::string::npos) << replay.Output();
}

INSTANTIATE_TEST_SUITE_P(
    Families, IoLogRoundTrip,
    ::testing::Values(Persona{"rigol", Link::Usb, Link::Socket},
                      Persona{"siglent", Link::Vxi11, Link::Vxi11, "C1,C2"},
                      Persona{"tektronix", Link::Vxi11, Link::Vxi11, "CH1,CH2"},
                      Persona{"infiniivision-x", Link::Usb, Link::Socket},
                      Persona{"fsv", Link::Vxi11, Link::Vxi11, "TRACE1,TRACE2"}),
    [](const auto& info) {
        std::string name = info.param.family;
        for (char& c : name)
            if (c == '-')
                c = '_';
        return name + (info.param.recorded == Link::Usb ? "_UsbToSocket" : "_Vxi11");
    });

// A conversation that leaves the recording fails with the place it left.
TEST(IoLogReplay, DepartureNamesTheExpectedMessage) {
    TempDir work;
    TempDir logs;
    const std::string logPath = work.File("idn.log");
    {
        SimProcess sim({"--instrument", "rigol"});
        ASSERT_TRUE(sim.Started());
        const CliRun run =
            RunCli(logs, {"scpi", "--io-log", logPath, sim.SocketResource(), "*IDN?"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    SimProcess replay({"--replay", logPath, "--replay-speed", "0"});
    ASSERT_TRUE(replay.Started()) << replay.Output();
    const CliRun same = RunCli(logs, {"scpi", replay.SocketResource(), "*IDN?"});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_NE(same.out.find("RIGOL TECHNOLOGIES,DS1054Z"), std::string::npos);
    const CliRun other = RunCli(logs, {"scpi", replay.SocketResource(), ":WAV:DATA?"});
    EXPECT_NE(other.out.find("replay departed from the log after its last message (1): got "
                             "\":WAV:DATA?\""),
              std::string::npos)
        << other.out << other.err;
    const auto transcript = replay.Transcript();
    ASSERT_FALSE(transcript.empty());
    EXPECT_NE(transcript.back().find("replay departed"), std::string::npos);
}

// The recorded delays are waited for, divided by --replay-speed.
TEST(IoLogReplay, DelaysScaleWithTheSpeed) {
    TempDir work;
    TempDir logs;
    const std::string logPath = work.File("slow.log");
    ASSERT_TRUE(WriteFileBytes(
        logPath, "# quarvel-io-log 1\n"
                 "t=0.000 s=1 rsrc=TCPIP0::h::5025::SOCKET op=write status=VI_SUCCESS dur=0.100 "
                 "end=yes text=\"*OPC?\\n\"\n"
                 "t=0.200 s=1 rsrc=TCPIP0::h::5025::SOCKET op=read status=VI_SUCCESS "
                 "dur=1999.900 end=term text=\"1\\n\"\n"));
    using Clock = std::chrono::steady_clock;
    for (const auto& [speed, atLeastMs] : {std::pair{"4", 400}, std::pair{"0", 0}}) {
        SimProcess replay({"--replay", logPath, "--replay-speed", speed});
        ASSERT_TRUE(replay.Started()) << replay.Output();
        const auto start = Clock::now();
        const CliRun run = RunCli(logs, {"scpi", replay.SocketResource(), "*OPC?"});
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_EQ(run.out, "1\n") << run.err;
        EXPECT_GE(took.count(), atLeastMs) << speed;
        // The whole 2 s are never waited at these speeds.
        EXPECT_LT(took.count(), 1900) << speed;
    }
}

// The log is appended to, never truncated, and made with the user's umask.
TEST(IoLogFile, AppendsAndKeepsTheUmask) {
    TempDir work;
    TempDir logs;
    SimProcess sim({"--instrument", "generic"});
    ASSERT_TRUE(sim.Started());
    const std::string logPath = work.File("two.log");
    const mode_t old = umask(027);
    const CliRun first = RunCli(logs, {"scpi", "--io-log", logPath, sim.SocketResource(), "*IDN?"});
    umask(old);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const std::string once = ReadFileText(logPath);
    const CliRun second =
        RunCli(logs, {"scpi", sim.SocketResource(), "--io-log", logPath, "*OPC?"});
    ASSERT_EQ(second.exitCode, 0) << second.err;
    const std::string twice = ReadFileText(logPath);
    EXPECT_EQ(twice.rfind(once, 0), 0u);
    EXPECT_NE(twice.find("text=\"*OPC?\\n\""), std::string::npos) << twice;
    struct stat st {};
    ASSERT_EQ(stat(logPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const CliRun missing = RunCli(
        logs, {"scpi", "--io-log", work.File("no/such/dir.log"), sim.SocketResource(), "*IDN?"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot write the I/O log: " + work.File("no/such/dir.log") +
                               ": No such file or directory"),
              std::string::npos)
        << missing.err;
}

} // namespace
} // namespace quarvel::test
