// quarvel-sim as a process on free loopback ports: raw SOCKET and VXI-11
// spoken by hand, the portmapper over TCP and UDP. The project's VISA layer
// against the simulator is tested in tests/visa/sim_test.cpp.

#include "codec/oncrpc.h"
#include "sim/rpc_server.h"
#include "tests/sim/sim_test_client.h"
#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace quarvel::test {
namespace {

namespace rpc = visa::rpc;
using Clock = std::chrono::steady_clock;

TEST(SimSocket, AnswersQueriesAndRecordsEveryMessageInTheTranscript) {
    SimProcess sim({"--idn", "ACME,X1,7,1.0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    RawClient c(sim.SocketPort());
    ASSERT_TRUE(c.Connected());
    ASSERT_TRUE(c.Send("*IDN?\n"));
    EXPECT_EQ(c.ReadLine(), "ACME,X1,7,1.0\n");
    // Two messages in one segment, a third split over two, CR LF accepted.
    ASSERT_TRUE(c.Send("*OPC?\n:nope\r\n:SYST:"));
    EXPECT_EQ(c.ReadLine(), "1\n");
    ASSERT_TRUE(c.Send("ERR?\n"));
    EXPECT_EQ(c.ReadLine(), "-113,\"Undefined header\"\n");
    // An unknown command gives no reply at all.
    EXPECT_EQ(c.ReadFor(200), "");
    EXPECT_EQ(sim.Transcript(),
              (std::vector<std::string>{"*IDN?", "*OPC?", ":nope", ":SYST:ERR?"}));
}

TEST(SimSocket, SurvivesHostileInput) {
    SimProcess sim({});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    {
        RawClient c(sim.SocketPort());
        std::string junk(3u << 20, '\xff'); // longer than any program message, no LF
        junk[1000] = '\0';
        c.Send(junk);
        c.Send("\n*IDN?\n");
        EXPECT_EQ(c.ReadLine().substr(0, 7), "QUARVEL");
        c.Send(":SYST:ERR?\n");
        EXPECT_EQ(c.ReadLine(), "-223,\"Too much data\"\n");
    }
    RawClient after(sim.SocketPort());
    after.Send("*OPC?\n");
    EXPECT_EQ(after.ReadLine(), "1\n");
}

// ---------------------------------------------------------------- VXI-11 --

class SimVxi11 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.Started()) << sim.Output(); }

    // destroy_link, or another call on a link that answers only an error.
    static std::int32_t SimpleCall(RpcClient& c, std::uint32_t proc, std::int32_t lid) {
        rpc::DeviceError e{-1};
        if (proc == rpc::VXI11_DESTROY_LINK)
            c.Vxi11(proc, rpc::DeviceLink{lid}, e);
        else
            c.Vxi11(proc, rpc::DeviceGenericParms{lid, 0, 0, 1000}, e);
        return e.error;
    }

    SimProcess sim{{"--instrument", "generic", "--idn", "ACME,V11,3,2.0"}};
};

// Writes gathered until END, reads served in pieces with END on the last,
// the status byte and clear: every VXI-11 test of tests/visa. What the VISA
// client never does is here: several queries before reading, a link used
// after its destruction.
TEST_F(SimVxi11, EachQueuedReplyIsItsOwnMessageAndADestroyedLinkIsInvalid) {
    RpcClient c(sim.Vxi11Port());
    ASSERT_TRUE(c.Connected());
    const std::int32_t lid = CreateLink(c);
    Vxi11Write(c, lid, "*OPC?", true);
    Vxi11Write(c, lid, ":TEST:BLOCK? 3", true);
    std::string data;
    rpc::DeviceReadResp r = Vxi11Read(c, lid, 1000, data);
    EXPECT_EQ(data, "1\n");
    EXPECT_EQ(r.reason, rpc::kVxi11ReasonEnd);
    r = Vxi11Read(c, lid, 1000, data);
    EXPECT_EQ(data.substr(0, 3), "#13");
    EXPECT_EQ(data.size(), 7u);

    EXPECT_EQ(SimpleCall(c, rpc::VXI11_DESTROY_LINK, lid), 0);
    EXPECT_EQ(SimpleCall(c, rpc::VXI11_DESTROY_LINK, lid), rpc::VXI11_INVALID_LINK);
    EXPECT_EQ(Vxi11Write(c, lid, "*IDN?", true).error, rpc::VXI11_INVALID_LINK);
}

TEST_F(SimVxi11, ReadWithNothingPendingTimesOutAfterIoTimeout) {
    RpcClient c(sim.Vxi11Port());
    const std::int32_t lid = CreateLink(c);
    std::string data;
    const auto start = Clock::now();
    EXPECT_EQ(Vxi11Read(c, lid, 100, data, 300).error, rpc::VXI11_IO_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(280));
    EXPECT_TRUE(data.empty());
    // Device clear drops an unread reply, and a message not yet ended.
    Vxi11Write(c, lid, "*IDN?", true);
    Vxi11Write(c, lid, "*OPC", false);
    SimpleCall(c, rpc::VXI11_DEVICE_CLEAR, lid);
    EXPECT_EQ(Vxi11Read(c, lid, 100, data, 100).error, rpc::VXI11_IO_TIMEOUT);
    Vxi11Write(c, lid, "?", true);
    EXPECT_EQ(Vxi11Read(c, lid, 100, data, 100).error, rpc::VXI11_IO_TIMEOUT);
    EXPECT_EQ(sim.Transcript(), (std::vector<std::string>{"*IDN?", "?"}));
}

TEST_F(SimVxi11, WrongProgramVersionProcedureAndGarbageArgumentsAreRejected) {
    RpcClient c(sim.Vxi11Port());
    rpc::Bytes none, results;
    rpc::ReplyHeader h;
    ASSERT_TRUE(c.Call(0x0607B0, 1, 10, none, h, results));
    EXPECT_EQ(h.stat, rpc::PROG_UNAVAIL);
    ASSERT_TRUE(c.Call(rpc::kVxi11CoreProgram, 2, 10, none, h, results));
    EXPECT_EQ(h.stat, rpc::PROG_MISMATCH);
    ASSERT_TRUE(c.Call(rpc::kVxi11CoreProgram, 1, 99, none, h, results));
    EXPECT_EQ(h.stat, rpc::PROC_UNAVAIL);
    ASSERT_TRUE(c.Call(rpc::kVxi11CoreProgram, 1, rpc::VXI11_CREATE_LINK, none, h, results));
    EXPECT_EQ(h.stat, rpc::GARBAGE_ARGS);
    // A record of junk: no reply, and the connection still works afterwards.
    rpc::Bytes junk;
    const rpc::Bytes body = {1, 2, 3, 4, 5, 6, 7};
    quarvel::sim::AppendRecord(junk, body);
    ASSERT_TRUE(c.SendRaw(junk));
    EXPECT_GT(CreateLink(c), 0);
    // A record claiming more than any call may carry ends the connection.
    ASSERT_TRUE(c.SendRaw({0xFF, 0xFF, 0xFF, 0xF0}));
    EXPECT_TRUE(c.PeerClosed(2000));
}

// Linux's own USB/IP tool (Debian's usbip) as the third-party client of the
// simulator's USB/IP server.
TEST(SimUsbip, LinuxUsbipToolListsTheDeviceWithItsIdsAndInterface) {
    std::string tool;
    for (const char* path : {"/usr/sbin/usbip", "/usr/bin/usbip", "/sbin/usbip"})
        if (access(path, X_OK) == 0)
            tool = path;
    ASSERT_FALSE(tool.empty()) << "Debian's usbip is not installed (scripts/test.sh installs it)";
    SimProcess sim({"--instrument", "rigol"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    const std::string command =
        tool + " --tcp-port " + std::to_string(sim.UsbipPort()) + " list -r 127.0.0.1 2>&1";
    int status = -1;
    const std::string output = CommandOutput(command, &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("1-1:"), std::string::npos) << output;
    EXPECT_NE(output.find("(1ab1:04ce)"), std::string::npos) << output;
    EXPECT_NE(output.find("(fe/03/01)"), std::string::npos) << output;
}

// --publish runs avahi-publish; where it cannot publish the simulator says
// why, serves on, and leaves no child behind, not even a zombie. (Publishing
// through a private Avahi daemon: tests/cli/cli_list_test.cpp.)
TEST(SimPublish, SaysWhyItCannotPublishServesOnAndReapsItsChildren) {
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    // The test programs' system bus does not exist, so the daemon cannot be
    // reached; without the tool on PATH it is not even started.
    for (const auto& [toolPath, expected] :
         {std::pair<std::string, std::string>{
              path, " ended: Failed to create client object: Daemon not running"},
          {"/nonexistent/quarvel-test-bin",
           "dnssd failed: avahi-publish not found on PATH (Debian package avahi-utils)"}}) {
        setenv("PATH", toolPath.c_str(), 1);
        SimProcess sim({"--publish"});
        setenv("PATH", path.c_str(), 1);
        ASSERT_TRUE(sim.Started()) << sim.Output();
        ASSERT_TRUE(sim.WaitForLine("dnssd failed")) << sim.Output();
        EXPECT_NE(sim.Output().find("dnssd failed: avahi-publish "), std::string::npos);
        EXPECT_NE(sim.Output().find(expected + "\n"), std::string::npos) << sim.Output();
        RawClient c(sim.SocketPort());
        ASSERT_TRUE(c.Send("*IDN?\n"));
        EXPECT_NE(c.ReadLine(), "");
        for (int i = 0; i < 300 && !ChildProcessesOf(sim.Pid()).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const ChildProcess& child : ChildProcessesOf(sim.Pid()))
            ADD_FAILURE() << "left behind: " << child.pid << " " << child.command << " "
                          << child.state;
    }
}

} // namespace
} // namespace quarvel::test
