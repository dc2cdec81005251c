// quarvel-cli scpi, run as a program against quarvel-sim.

#include "sim/family_generic.h"
#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <utility>

namespace quarvel::test {
namespace {

std::string TestBlock(std::size_t length) {
    std::string data(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        data[i] = static_cast<char>(quarvel::sim::TestBlockByte(i));
    return data;
}

// Both LAN transports of one simulator, and the socket through a loaded VISA
// library, as quarvel-cli scpi arguments.
std::vector<std::vector<std::string>> Targets(const SimProcess& sim) {
    return {{"--portmapper-port", std::to_string(sim.PortmapperPort()), sim.Vxi11Resource()},
            {sim.SocketResource()},
            {"--visa-library-all", QUARVEL_VISA_SHARED_LIBRARY, sim.SocketResource()}};
}

CliRun Scpi(const TempDir& logs, const std::vector<std::string>& target,
            const std::vector<std::string>& commands) {
    std::vector<std::string> args = {"scpi"};
    args.insert(args.end(), target.begin(), target.end());
    args.insert(args.end(), commands.begin(), commands.end());
    return RunCli(logs, args);
}

TEST(CliScpi, RepliesAreReadWholeAndBlocksWrittenAsTheirDataOverEveryTransport) {
    // A text reply longer than a read piece, and blocks of several MB whose
    // data holds line feeds (which end reads on a raw socket).
    const std::string longIdn = "ACME," + std::string(70000, 'M') + ",1,1.0";
    SimProcess sim({"--idn", longIdn});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir logs;
    const std::string block = TestBlock(4'500'000);
    auto targets = Targets(sim);
    targets.push_back({"--usbip", sim.UsbipServer(), sim.UsbResource()});
    for (const auto& target : targets) {
        SCOPED_TRACE(target.back());
        const CliRun r = Scpi(logs, target, {":TEST:BLOCK? 4500000", "*CLS", "*OPC?", "*IDN?"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.out == block + "1\n" + longIdn + "\n") << r.out.size() << " bytes";
    }
    // Every command reached the instrument, the one without '?' too.
    const auto transcript = sim.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "*CLS"), 4);
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
            // Nothing of a reply is printed before it is whole.
            EXPECT_EQ(r.out, "");
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

bool Says(const CliRun& r, const std::string& text) {
    return r.err.find(text) != std::string::npos;
}

TEST(CliScpi, AVisaLibraryTakesWhatQuarvelCannotOpenAndABadOneIsNamed) {
    TempDir logs;
    const std::string library = QUARVEL_VISA_SHARED_LIBRARY;
    // No library named: Quarvel has no GPIB of its own.
    CliRun r = RunCli(logs, {"scpi", "GPIB0::5::INSTR", "*IDN?"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Says(r, "opening GPIB0::5::INSTR failed: VI_ERROR_LIBRARY_NFOUND")) << r.err;
    EXPECT_TRUE(Says(r, "no VISA library for GPIB resources")) << r.err;
    EXPECT_TRUE(Says(r, "--visa-library PATH")) << r.err;
    // Named, by option or by the environment: the GPIB name reaches it, and
    // its own answer comes back (it has no GPIB either).
    r = RunCli(logs, {"scpi", "--visa-library", library, "gpib0::5::INSTR", "*IDN?"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Says(r, "the VISA library " + library +
                            " answered VI_ERROR_LIBRARY_NFOUND (0xBFFF009E) for gpib0::5::INSTR"))
        << r.err;
    EXPECT_FALSE(Says(r, "no VISA library for")) << r.err;
    setenv("QUARVEL_VISA_LIBRARY", library.c_str(), 1);
    r = RunCli(logs, {"scpi", "ASRL/dev/ttyS0::INSTR", "*IDN?"});
    unsetenv("QUARVEL_VISA_LIBRARY");
    EXPECT_TRUE(Says(r, "the VISA library " + library + " answered")) << r.err;

    // Libraries that cannot serve: the path and the loader's reason, before
    // any instrument is asked.
    SimProcess sim({"--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    Dl_info libc{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::fputs), &libc), 0);
    const std::string textFile = logs.File("not-a-library.so");
    ASSERT_TRUE(WriteFileBytes(textFile, "not a shared object\n"));
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"/nonexistent/libvisa.so",
         "cannot load the VISA library /nonexistent/libvisa.so: /nonexistent/libvisa.so: cannot "
         "open shared object file"},
        {textFile, "cannot load the VISA library " + textFile + ": "},
        {libc.dli_fname, std::string(libc.dli_fname) +
                             " is not a VISA library: it lacks viOpenDefaultRM, viOpen, viClose"},
        {"libvisa.so", "cannot load the VISA library libvisa.so: give its path"}};
    for (const auto& [path, message] : bad) {
        r = RunCli(logs, {"scpi", "--visa-library", path, sim.SocketResource(), "*IDN?"});
        EXPECT_EQ(r.exitCode, 1) << path;
        EXPECT_TRUE(Says(r, "quarvel-cli scpi: " + message)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(sim.Transcript().empty());
}

TEST(CliHelp, UsageGoesToStandardOutputAndTheVersionComesFromTheProject) {
    TempDir logs;
    const CliRun version = RunCli(logs, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quarvel-cli " QUARVEL_PROJECT_VERSION "\n");
    const CliRun unknown = RunCli(logs, {"--bogus"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("unknown command '--bogus'"), std::string::npos);

    // Asked for, the usage goes to standard output with status 0.
    for (const char* help : {"--help", "help", "-h"}) {
        const CliRun r = RunCli(logs, {help});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_EQ(r.out.rfind("usage: quarvel-cli COMMAND", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("quarvel-cli screenshot "), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
    // Each command's own usage: the manual pages are held to it
    // (tests/packaging/man_pages_test.sh).
    const CliRun one = RunCli(logs, {"help", "screenshot"});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_EQ(one.out.rfind("usage: quarvel-cli screenshot ", 0), 0u) << one.out;
    EXPECT_EQ(RunCli(logs, {"help", "bogus"}).exitCode, 2);
}

} // namespace
} // namespace quarvel::test
