// libquarvel-visa.so as other programs see it: the symbols it exports, and a
// C program that loads it with dlopen and drives quarvel-sim through it.

#include "codec/io_log_format.h"
#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>

using quarvel::test::CommandOutput;
using quarvel::test::SimProcess;

namespace {

// What this library exports, all under one version, and nothing else (none
// of its insides, nothing that goes unnoticed): the standard VISA functions
// it has (VPP-4.3) and Quarvel's own that visa.h declares for C programs.
const std::set<std::string> kStandardNames = {
    "viOpenDefaultRM", "viOpen",         "viClose",         "viRead",        "viWrite",
    "viReadSTB",       "viClear",        "viFlush",         "viSetBuf",      "viBufRead",
    "viBufWrite",      "viPrintf",       "viVPrintf",       "viSPrintf",     "viVSPrintf",
    "viScanf",         "viVScanf",       "viSScanf",        "viVSScanf",     "viQueryf",
    "viVQueryf",       "viGetAttribute", "viSetAttribute",  "viParseRsrc",   "viParseRsrcEx",
    "viFindRsrc",      "viFindNext",     "viLock",          "viUnlock",      "viStatusDesc",
    "viEnableEvent",   "viDisableEvent", "viDiscardEvents", "viWaitOnEvent",
};
const std::set<std::string> kQuarvelNames = {"qviSetProgressHandler", "qviStatusName",
                                             "qviFindReport", "qviCancelFind"};

constexpr const char* kVersion = "QUARVEL_VISA_1";

} // namespace

TEST(VisaSharedLibrary, ExportsTheStandardNamesAndQuarvelsPublicOnesVersioned) {
    int status = 0;
    const std::string table =
        CommandOutput(std::string("nm -D --defined-only ") + QUARVEL_VISA_LIBRARY, &status);
    ASSERT_EQ(status, 0) << "nm failed";
    std::set<std::string> exported;
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string symbol = line.substr(line.find_last_of(' ') + 1);
        if (symbol == kVersion)
            continue; // the version's own definition
        const std::size_t at = symbol.find("@@");
        const std::string name = symbol.substr(0, at);
        EXPECT_TRUE(at != std::string::npos && symbol.substr(at + 2) == kVersion)
            << "exported without version " << kVersion << ": " << line;
        exported.insert(name);
    }
    std::set<std::string> expected = kStandardNames;
    expected.insert(kQuarvelNames.begin(), kQuarvelNames.end());
    EXPECT_EQ(exported, expected);

    const std::string dynamic = CommandOutput(
        std::string("readelf -d ") + QUARVEL_VISA_LIBRARY + " | grep SONAME", &status);
    EXPECT_NE(dynamic.find("[libquarvel-visa.so."), std::string::npos) << dynamic;
}

// Over SOCKET it also writes the I/O log the environment asks for, as any
// program that loads the library does.
TEST(VisaSharedLibrary, CProgramDrivesTheSimulatorThroughDlsymNamesOnlyAndLogsItsIo) {
    SimProcess sim({"--instrument", "generic", "--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    quarvel::test::TempDir dir;
    const std::string log = dir.File("client.log");
    for (const std::string& resource : {sim.Vxi11Resource(), sim.SocketResource()}) {
        const std::string logged =
            resource == sim.SocketResource() ? "QUARVEL_IO_LOG=" + log + " " : "";
        int status = 0;
        const std::string out = CommandOutput(
            logged + "QUARVEL_PORTMAPPER_PORT=" + std::to_string(sim.PortmapperPort()) + " " +
                QUARVEL_DLOPEN_CLIENT + " " + QUARVEL_VISA_LIBRARY + " " + resource,
            &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_EQ(out, "read: ACME,X1,1,1.0\nqueryf: ACME,X1,1,1.0\nname: " + resource +
                           "\ndesc: VI_ERROR_TMO: Timeout expired before operation completed.\n");
    }
    std::istringstream lines(quarvel::test::ReadFileText(log));
    std::string line;
    quarvel::visa::iolog::Header header;
    quarvel::visa::iolog::Record record;
    std::string error;
    int writes = 0;
    while (std::getline(lines, line)) {
        ASSERT_TRUE(quarvel::visa::iolog::ParseLine(line, header, record, error)) << line << error;
        if (record.op == quarvel::visa::iolog::Op::Write &&
            record.payload.text.rfind("*IDN?", 0) == 0) {
            EXPECT_EQ(record.resource, sim.SocketResource());
            ++writes;
        }
    }
    EXPECT_EQ(header.version, 1);
    EXPECT_GE(writes, 1);
}
