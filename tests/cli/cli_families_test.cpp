// quarvel-cli families and instrument definitions a user writes: the list
// names every family and where it came from, --check validates one file, and
// a made-up instrument described by a definition is captured through
// quarvel-cli screenshot byte for byte.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace quarvel::test {
namespace {

// A made-up instrument whose raw PNG ends with the message.
const std::string kAcme = R"(# A test's own instrument.
[family]
name = "ACME Bench Scope"
maker = "ACME Instruments"
models = ["AS1???"]

[image]
format = "png"
steps = ["*OPC?"]
query = ":PRINT:DATA?"
framing = "raw"
)";

// The user's definition directory under a private XDG_CONFIG_HOME, which
// quarvel-cli inherits from this test.
class UserDefinitions {
public:
    UserDefinitions() {
        m_dir = m_config.Path() + "/Hollin/Quarvel/instruments";
        std::filesystem::create_directories(m_dir);
        if (const char* before = std::getenv("XDG_CONFIG_HOME"))
            m_before = before;
        setenv("XDG_CONFIG_HOME", m_config.Path().c_str(), 1);
    }
    ~UserDefinitions() { setenv("XDG_CONFIG_HOME", m_before.c_str(), 1); }
    std::string Add(const std::string& name, const std::string& text) const {
        const std::string path = m_dir + "/" + name;
        EXPECT_TRUE(WriteFileBytes(path, text));
        return path;
    }

private:
    TempDir m_config;
    std::string m_dir;
    std::string m_before;
};

TEST(CliFamilies, ListsBuiltInAndUserFamiliesAndNamesABrokenFile) {
    UserDefinitions user;
    const std::string good = user.Add("acme.toml", kAcme);
    const std::string broken = user.Add("broken.toml", "[family]\nname = \"X\"\nmakers = 1\n");
    TempDir work;
    const CliRun run = RunCli(work, {"families"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Built-in families, those with drivers of their own and definitions alike.
    for (const char* family :
         {"Keysight InfiniiVision 1000X-6000X\n", "Rigol DHO800/900/1000/4000\n",
          "Tektronix MSO 2/4/5/6 Series\n", "Siglent SDS (SCDP)\n"})
        EXPECT_NE(run.out.find(family), std::string::npos) << family;
    EXPECT_NE(run.out.find("ACME Bench Scope\n  maker: ACME Instruments\n  models: AS1???\n"
                           "  from: " +
                           good + "\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  from: built in\n"), std::string::npos);
    EXPECT_EQ(run.err,
              "quarvel-cli families: skipped " + broken + ":3: unknown key 'makers' in [family]\n");
}

TEST(CliFamilies, CheckValidatesOneFileWithItsLine) {
    TempDir work;
    const std::string good = work.File("acme.toml");
    const std::string broken = work.File("broken.toml");
    ASSERT_TRUE(WriteFileBytes(good, kAcme));
    ASSERT_TRUE(WriteFileBytes(broken, kAcme + "\n[run]\nstop = [\"STOP\"]\nrun = 5\n"));
    const CliRun ok = RunCli(work, {"families", "--check", good});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.out.find("ACME Bench Scope"), std::string::npos) << ok.out;
    const CliRun refused = RunCli(work, {"families", "--check", broken});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, broken + ":15: 'run' must be a list of at most 32 steps\n");
    const CliRun missing = RunCli(work, {"families", "--check", work.File("none.toml")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, work.File("none.toml") + ": not a readable file\n");
}

// Over the socket; the definition-driven driver over every link is
// DefinedFileRoute's (tests/instr), the raw read over every link EveryFamily's
// TekTds cases.
TEST(CliUserDefinition, AMadeUpInstrumentIsCapturedByteForByte) {
    UserDefinitions user;
    user.Add("acme.toml", kAcme);
    TempDir dumps;
    TempDir work;
    SimProcess sim({"--instrument", "generic", "--idn", "ACME INSTRUMENTS,AS1000,0001,1.0",
                    "--image-query", ":PRINT:DATA?", "--image-framing", "raw", "--dump-images",
                    dumps.Path()});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    const std::string file = work.File("acme.png");
    const CliRun run = RunCli(work, {"screenshot", sim.SocketResource(), file});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto served = ReadDirFiles(dumps.Path());
    ASSERT_EQ(served.size(), 1u);
    EXPECT_EQ(ReadFileBytes(file), served[0]);
}

TEST(CliUserDefinitionMissing, AnUnknownInstrumentIsToldWhereADefinitionGoes) {
    UserDefinitions user; // empty
    TempDir work;
    SimProcess sim({"--instrument", "generic", "--idn", "ACME INSTRUMENTS,AS1000,0001,1.0"});
    ASSERT_TRUE(sim.Started());
    const CliRun run = RunCli(work, {"screenshot", sim.SocketResource(), work.File("x.png")});
    EXPECT_EQ(run.exitCode, 1);
    // The window shows the same text after its own first line.
    const std::string idn = "ACME INSTRUMENTS,AS1000,0001,1.0";
    EXPECT_TRUE(run.err.starts_with("quarvel-cli screenshot: unknown instrument '" + idn +
                                    "'\nWarning: Unknown and possibly incompatible instrument\n"
                                    "Identification: \"" +
                                    idn + "\"\n"))
        << run.err;
    EXPECT_NE(run.err.find("/Hollin/Quarvel/instruments/"), std::string::npos) << run.err;
    EXPECT_FALSE(PathExists(work.File("x.png")));
}

} // namespace
} // namespace quarvel::test
