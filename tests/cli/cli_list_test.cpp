// quarvel-cli list, run as a program: the simulator's USB/IP server (named by
// --usbip or QUARVEL_USBIP), and two simulators on loopback found by unicast
// probe and by DNS-SD through a private Avahi daemon. Never by broadcast.

#include "tests/support/cli_run.h"
#include "tests/support/private_avahi.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <tuple>

namespace quarvel::test {
namespace {

TEST(CliList, PrintsTheSimulatedUsbDeviceWithItsIdentification) {
    SimProcess sim({"--instrument", "rigol"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir logs;
    const std::string resource = "USB0::0x1AB1::0x04CE::DS1ZA000000001::INSTR";
    CliRun r = RunCli(logs, {"list", "--method", "usb", "--usbip", sim.UsbipServer()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, resource + "\n");

    setenv("QUARVEL_USBIP", sim.UsbipServer().c_str(), 1);
    r = RunCli(logs, {"list", "--idn", "--method", "usb"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, resource + " RIGOL TECHNOLOGIES,DS1054Z,DS1ZA000000001,00.04.04.SP3\n");
    // The methods named are the only ones used.
    EXPECT_EQ(RunCli(logs, {"list", "--method", "probe"}).out, "");
    // A host name is resolved when the probe runs (localhost: /etc/hosts).
    EXPECT_EQ(RunCli(logs, {"list", "--method", "probe", "--probe", "localhost",
                            "--portmapper-port", std::to_string(sim.PortmapperPort())})
                  .out,
              "TCPIP0::127.0.0.1::inst0::INSTR\n");
    unsetenv("QUARVEL_USBIP");

    EXPECT_EQ(RunCli(logs, {"list", "--method", "usb"}).out, "");
    for (const char* bad : {"127.0.0.1", "127.0.0.1:0", "a,b:1"}) {
        r = RunCli(logs, {"list", "--usbip", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find("HOST:PORT"), std::string::npos) << r.err;
    }
    r = RunCli(logs, {"list", "--method", "multicast"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("broadcast, probe, dnssd, usb or library"), std::string::npos) << r.err;
    r = RunCli(logs, {"list", "--method", "probe", "--probe", "10.0.0.0/8"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("at most 4096 hosts"), std::string::npos) << r.err;
}

TEST(CliList, IdentifiesAUsbDeviceWhoseServerRefusesImportsForAMomentAfterEach) {
    // As usbipd does while usbip-host resets a device an importer has left:
    // the listing's import for the serial number is followed at once by the
    // one for *IDN?, which is refused for 150 ms and asked again.
    SimProcess sim({"--instrument", "rigol", "--usbip-exclusive", "--usbip-import-gap", "150"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    TempDir logs;
    const CliRun r =
        RunCli(logs, {"list", "--idn", "--method", "usb", "--usbip", sim.UsbipServer()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "USB0::0x1AB1::0x04CE::DS1ZA000000001::INSTR RIGOL TECHNOLOGIES,DS1054Z,"
                     "DS1ZA000000001,00.04.04.SP3\n");
}

TEST(CliList, VerboseOutputSaysWhyDnssdFoundNothing) {
    // The test programs' system bus is one that is not there.
    TempDir logs;
    const CliRun r = RunCli(logs, {"list", "--method", "dnssd", "--verbose"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("quarvel-cli list: dnssd: the Avahi daemon cannot be reached"),
              std::string::npos)
        << r.err;
}

// Two simulators on loopback addresses of this process's own (127.a.b.2 and
// .3, so that another test run's simulators on the machine never mix in),
// with one portmapper port: a probe asks every host on one port.
class CliListLan : public ::testing::Test {
protected:
    void StartSimulators(bool publish) {
        m_net = OwnLoopbackNet();
        std::vector<std::string> a = {"--instrument", "rigol", "--address", m_net + "2"};
        if (publish)
            a.push_back("--publish");
        m_rigol = std::make_unique<SimProcess>(a);
        ASSERT_TRUE(m_rigol->Started()) << m_rigol->Output();
        a = {"--instrument",      "fsv",
             "--address",         m_net + "3",
             "--portmapper-port", std::to_string(m_rigol->PortmapperPort())};
        if (publish)
            a.push_back("--publish");
        m_fsv = std::make_unique<SimProcess>(a);
        ASSERT_TRUE(m_fsv->Started()) << m_fsv->Output();
    }

    // The lines of the output that name our simulators' addresses.
    std::string Ours(const std::string& out) const {
        std::istringstream lines(out);
        std::string line;
        std::string kept;
        while (std::getline(lines, line))
            if (line.find("::" + m_net) != std::string::npos)
                kept += line + "\n";
        return kept;
    }

    std::string Rigol() const { return "RIGOL TECHNOLOGIES,DS1054Z,DS1ZA000000001,00.04.04.SP3"; }
    std::string Fsv() const { return "Rohde&Schwarz,FSV-7,1307.9002K07/101234,2.30 SP1"; }

    std::string m_net;
    std::unique_ptr<SimProcess> m_rigol;
    std::unique_ptr<SimProcess> m_fsv;
    TempDir m_logs;
};

TEST_F(CliListLan, ProbeFindsTwoSimulatorsWithTheirIdentifications) {
    StartSimulators(false);
    const std::string port = std::to_string(m_rigol->PortmapperPort());
    CliRun r =
        RunCli(m_logs, {"list", "--method", "probe", "--probe", m_net + "1-" + m_net + "9",
                        "--portmapper-port", port, "--idn", "--verbose", "--timeout", "2000"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "TCPIP0::" + m_net + "2::inst0::INSTR " + Rigol() + "\nTCPIP0::" + m_net +
                         "3::inst0::INSTR " + Fsv() + "\n");
    EXPECT_EQ(r.err, "quarvel-cli list: probe: GETPORT to 9 of 9 hosts on port " + port +
                         ", 2 answered\n");

    // A vendor's VISA library (a stand-in) adds what it lists itself, and
    // identifies it; not without the library, nor with the method left out.
    const std::string fake = QUARVEL_FAKE_VENDOR_VISA;
    const std::string rigolLine = "TCPIP0::" + m_net + "2::inst0::INSTR " + Rigol() + "\n";
    for (const auto& [library, methods, out] :
         {std::tuple<bool, const char*, std::string>{
              true, "library,probe",
              rigolLine + "GPIB0::7::INSTR FAKE VENDOR,GPIB BENCH METER,0,1.0\n"
                          "ASRL1::INSTR (VI_ERROR_RSRC_NFOUND)\n"},
          {false, "library,probe", rigolLine},
          {true, "probe", rigolLine}}) {
        std::vector<std::string> args = {"list",    "--method",  methods,
                                         "--probe", m_net + "2", "--portmapper-port",
                                         port,      "--idn",     "--verbose"};
        if (library)
            args.insert(args.end(), {"--visa-library", fake});
        r = RunCli(m_logs, args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, out) << methods << " " << library;
        EXPECT_EQ(r.err.find("library: " + fake + " listed 2 resources") != std::string::npos,
                  out != rigolLine)
            << r.err;
    }

    // An identification that fails says why, the others are unaffected.
    m_fsv.reset();
    r = RunCli(m_logs, {"list", "--method", "probe", "--probe", m_net + "2," + m_net + "3",
                        "--portmapper-port", port, "--idn", "--timeout", "500"});
    EXPECT_EQ(r.out, "TCPIP0::" + m_net + "2::inst0::INSTR " + Rigol() + "\n");
}

TEST_F(CliListLan, DnssdFindsTwoSimulatorsThroughAPrivateAvahiDaemon) {
    PrivateAvahi avahi;
    ASSERT_TRUE(avahi.Started()) << avahi.Log();
    setenv("DBUS_SYSTEM_BUS_ADDRESS", avahi.BusAddress().c_str(), 1);
    StartSimulators(true);
    ASSERT_TRUE(m_rigol->WaitForLine("dnssd published")) << m_rigol->Output() << avahi.Log();
    ASSERT_TRUE(m_fsv->WaitForLine("dnssd published")) << m_fsv->Output() << avahi.Log();

    // Avahi's own browser resolves what the simulator published.
    const std::string browse = "avahi-browse --terminate --resolve --parsable _hislip._tcp 2>&1";
    const std::string browsed = CommandOutput(browse);
    EXPECT_NE(browsed.find(";" + m_net + "2;" + std::to_string(m_rigol->HislipPort()) + ";"),
              std::string::npos)
        << browsed;

    // Each simulator announces HiSLIP, VXI-11 and its socket; one line each,
    // by HiSLIP.
    const std::string expected = "TCPIP0::" + m_net + "2::hislip0," +
                                 std::to_string(m_rigol->HislipPort()) + "::INSTR " + Rigol() +
                                 "\nTCPIP0::" + m_net + "3::hislip0," +
                                 std::to_string(m_fsv->HislipPort()) + "::INSTR " + Fsv() + "\n";
    // Ample time for a loaded machine; the search ends once the daemon has
    // told all it knows and every service is resolved.
    CliRun r = RunCli(m_logs, {"list", "--method", "dnssd", "--idn", "--timeout", "5000"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Ours(r.out), expected) << r.out << avahi.Log();
    // Found by probe as well, they are still listed once.
    r = RunCli(m_logs, {"list", "--method", "dnssd", "--method", "probe", "--probe",
                        m_net + "2-" + m_net + "3", "--portmapper-port",
                        std::to_string(m_rigol->PortmapperPort()), "--idn", "--timeout", "5000"});
    EXPECT_EQ(Ours(r.out), expected) << r.out;

    // A daemon that has its name on the bus but hangs holds the search for
    // its time, not for libdbus's 25 s.
    avahi.Freeze(true);
    const auto start = std::chrono::steady_clock::now();
    r = RunCli(m_logs, {"list", "--method", "dnssd", "--verbose", "--timeout", "1000"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_NE(r.err.find("dnssd: the Avahi daemon did not answer in time"), std::string::npos)
        << r.err;
    avahi.Freeze(false);

    // The simulator publishes through avahi-publish, one per record (its
    // host name and three services); they end with it, reaped.
    const std::vector<ChildProcess> tools = ChildProcessesOf(m_fsv->Pid());
    EXPECT_EQ(tools.size(), 4u);
    for (const ChildProcess& tool : tools) {
        EXPECT_EQ(tool.command, "avahi-publish");
        EXPECT_NE(tool.state, 'Z') << tool.pid;
    }
    m_fsv.reset();
    for (const ChildProcess& tool : tools)
        EXPECT_NE(kill(tool.pid, 0), 0) << tool.pid << " outlived the simulator";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quarvel-test-bus", 1);
}

} // namespace
} // namespace quarvel::test
