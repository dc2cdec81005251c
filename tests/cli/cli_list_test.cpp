// quarvel-cli list, run as a program against quarvel-sim's USB/IP server,
// named by --usbip or by the QUARVEL_USBIP environment variable.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quarvel::test {
namespace {

TEST(CliList, PrintsTheSimulatedUsbDeviceWithItsIdentification) {
    SimProcess sim({"--instrument", "rigol"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir logs;
    const std::string resource = "USB0::0x1AB1::0x04CE::DS1ZA000000001::INSTR";
    CliRun r = RunCli(logs, {"list", "--usbip", sim.UsbipServer()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, resource + "\n");

    setenv("QUARVEL_USBIP", sim.UsbipServer().c_str(), 1);
    r = RunCli(logs, {"list", "--idn"});
    unsetenv("QUARVEL_USBIP");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, resource + " RIGOL TECHNOLOGIES,DS1054Z,DS1ZA000000001,00.04.04.SP3\n");

    EXPECT_EQ(RunCli(logs, {"list"}).out, "");
    for (const char* bad : {"127.0.0.1", "127.0.0.1:0", "a,b:1"}) {
        r = RunCli(logs, {"list", "--usbip", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find("HOST:PORT"), std::string::npos) << r.err;
    }
}

} // namespace
} // namespace quarvel::test
