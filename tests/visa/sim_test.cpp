// The VISA layer against quarvel-sim over real loopback sockets, over every
// transport: VXI-11 (through the simulator's portmapper), raw SOCKET, HiSLIP
// and USBTMC (through the simulator's USB/IP server). Each case asks the
// identification too; the formatted calls' own rules are in
// formatted_io_test.cpp.

#include "tests/visa/sim_fixture.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

using quarvel::test::FirstWrongTestByte;
using quarvel::test::Lan;
using quarvel::test::LanName;
using quarvel::test::SimProcess;
using quarvel::test::SimResourceManager;

namespace {

class VisaSim : public quarvel::test::VisaSimFixture, public ::testing::WithParamInterface<Lan> {
protected:
    void Start(std::vector<std::string> args, ViUInt32 timeoutMs = 2000) {
        VisaSimFixture::Start(args, timeoutMs, GetParam());
    }

    // Reads a test block of n bytes into a buffer of capacity bytes.
    // beforeReading runs between the query and the read of its reply.
    ViStatus ReadTestBlock(std::size_t n, std::vector<unsigned char>& buffer, ViUInt32& count,
                           const std::function<void()>& beforeReading = {}) {
        count = static_cast<ViUInt32>(buffer.size());
        const ViStatus s = viPrintf(m_vi, ":TEST:BLOCK? %u\n", static_cast<unsigned>(n));
        if (s != VI_SUCCESS)
            return s;
        viFlush(m_vi, VI_WRITE_BUF);
        if (beforeReading)
            beforeReading();
        return viScanf(m_vi, "%#b\n", &count, buffer.data());
    }

    static void ExpectTestBytes(const std::vector<unsigned char>& buffer, std::size_t n) {
        EXPECT_EQ(FirstWrongTestByte(buffer, n), n) << "the first wrong byte";
    }
};

} // namespace

TEST_P(VisaSim, LargeBlockInTinyPiecesArrivesWhole) {
    Start({"--tiny-pieces", "7"}, 10000);
    std::vector<unsigned char> buffer(300000);
    ViUInt32 count = 0;
    ASSERT_EQ(ReadTestBlock(20000, buffer, count), VI_SUCCESS);
    ASSERT_EQ(count, 20000u);
    ExpectTestBytes(buffer, count);
    ExpectIdn(m_vi, "QUARVEL,SIM-1,0,1.0");
}

TEST_P(VisaSim, BlockCutShortOrOverclaimedFailsWithinTheTimeout) {
    for (const char* fault : {"--block-cut", "--block-overclaim"}) {
        Start({fault, "100"}, 500);
        std::vector<unsigned char> buffer(100000);
        ViUInt32 count = 0;
        const auto start = std::chrono::steady_clock::now();
        const ViStatus s = ReadTestBlock(5000, buffer, count);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(s, VI_SUCCESS) << fault;
        // At most the bytes sent (the terminator may be taken as data), never
        // the length the header claimed.
        EXPECT_LE(count, 5001u) << fault;
        EXPECT_LT(took, std::chrono::seconds(3)) << fault;
    }
}

TEST_P(VisaSim, SlowReplyTimesOut) {
    Start({"--delay-ms", "1500"}, 300);
    char idn[256];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(viQueryf(m_vi, "*IDN?\n", "%t", idn), VI_ERROR_TMO);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
}

TEST_P(VisaSim, ClearDropsAnUnreadReply) {
    Start({});
    ASSERT_EQ(viPrintf(m_vi, "*IDN?\n"), VI_SUCCESS);
    // Let the reply reach the socket before the clear.
    usleep(100 * 1000);
    ASSERT_EQ(viClear(m_vi), VI_SUCCESS);
    EXPECT_EQ(Opc(m_vi), VI_SUCCESS);
}

// What a progress handler was told, and when it cancels.
struct ProgressLog {
    std::vector<std::pair<ViUInt64, ViUInt64>> reports; // done, expected
    ViUInt64 cancelFrom = QVI_SIZE_UNKNOWN;             // cancel once done reaches this
    std::size_t cancelAfterReports = 0;                 // or after this many (0: never)
    std::size_t reportsAtCancel = 0;

    static ViInt32 Handler(ViSession, ViUInt64 done, ViUInt64 expected, ViAddr user) {
        auto& log = *static_cast<ProgressLog*>(user);
        log.reports.emplace_back(done, expected);
        const bool cancel =
            done >= log.cancelFrom ||
            (log.cancelAfterReports > 0 && log.reports.size() >= log.cancelAfterReports);
        if (cancel && log.reportsAtCancel == 0)
            log.reportsAtCancel = log.reports.size();
        return cancel ? QVI_PROGRESS_CANCEL : QVI_PROGRESS_CONTINUE;
    }
    void Reset(ViUInt64 from, std::size_t afterReports) {
        *this = ProgressLog{};
        cancelFrom = from;
        cancelAfterReports = afterReports;
    }
};

TEST_P(VisaSim, ProgressIsReportedAndACancelLeavesTheSessionUsable) {
    Start({"--rate", "2000", "--delay-ms", "300", "--fault-on", ":TEST:BLOCK?"}, 10000);
    ProgressLog log;
    ASSERT_EQ(qviSetProgressHandler(m_vi, &ProgressLog::Handler, &log), VI_SUCCESS);

    // A whole block: reports while the reply is delayed, then counts that
    // rise by at most 64 KiB up to the reply's length ("#6300000" + data).
    std::vector<unsigned char> buffer(4'000'000);
    ViUInt32 count = 0;
    ASSERT_EQ(ReadTestBlock(300000, buffer, count, [&] { log.Reset(QVI_SIZE_UNKNOWN, 0); }),
              VI_SUCCESS);
    ASSERT_EQ(count, 300000u);
    ExpectTestBytes(buffer, count);
    ASSERT_GE(log.reports.size(), 3u);
    EXPECT_EQ(log.reports.front().first, 0u);
    EXPECT_EQ(log.reports.back(), std::make_pair(ViUInt64{300008}, ViUInt64{300008}));
    for (std::size_t i = 1; i < log.reports.size(); ++i) {
        EXPECT_GE(log.reports[i].first, log.reports[i - 1].first) << i;
        EXPECT_LE(log.reports[i].first - log.reports[i - 1].first, 64u * 1024u) << i;
    }

    // Cancelled in the middle of a 4 MB block: the call ends without reading
    // the rest, and the next command gets its own reply.
    EXPECT_EQ(ReadTestBlock(4'000'000, buffer, count, [&] { log.Reset(1'000'000, 0); }),
              VI_ERROR_ABORT);
    EXPECT_EQ(log.reports.size(), log.reportsAtCancel);
    EXPECT_LT(log.reports.back().first, 1'100'000u);
    EXPECT_EQ(log.reports.back().second, 4'000'009u);
    log.Reset(QVI_SIZE_UNKNOWN, 0); // the next command's reply, not cancelled
    ExpectIdn(m_vi, "QUARVEL,SIM-1,0,1.0");

    // Cancelled while the instrument has not answered yet.
    EXPECT_EQ(ReadTestBlock(1000, buffer, count, [&] { log.Reset(QVI_SIZE_UNKNOWN, 2); }),
              VI_ERROR_ABORT);
    EXPECT_EQ(log.reports.size(), 2u);
    EXPECT_EQ(log.reports.back().first, 0u);
    log.Reset(QVI_SIZE_UNKNOWN, 0);
    ExpectIdn(m_vi, "QUARVEL,SIM-1,0,1.0");
    ASSERT_EQ(ReadTestBlock(1000, buffer, count), VI_SUCCESS);
    EXPECT_EQ(count, 1000u);
    ExpectTestBytes(buffer, count);
}

INSTANTIATE_TEST_SUITE_P(Transports, VisaSim,
                         ::testing::Values(Lan::Vxi11, Lan::Socket, Lan::Hislip, Lan::Usb),
                         [](const auto& info) { return LanName(info.param); });

using VisaVxi11 = quarvel::test::VisaSimFixture;

TEST_F(VisaVxi11, LongCommandGoesInChunksOfMaxRecvSize) {
    Start({"--max-recv-size", "16"}, 2000, Lan::Vxi11);
    const std::string text(300, 'x');
    ASSERT_EQ(viPrintf(m_vi, ":DISP:TEXT \"%s\"\n", text.c_str()), VI_SUCCESS);
    ExpectIdn(m_vi, "QUARVEL,SIM-1,0,1.0");
    const auto transcript = m_sim->Transcript();
    ASSERT_GE(transcript.size(), 1u);
    EXPECT_EQ(transcript[0], ":DISP:TEXT \"" + text + "\"");
}

TEST_F(VisaVxi11, FragmentedRepliesAndStaleRepliesStillGiveEachCallItsOwnAnswer) {
    // The larger block is read straight into the buffer, with its end staged.
    const struct {
        std::vector<std::string> fault;
        std::size_t block;
    } cases[] = {{{"--reply-fragments", "7"}, 100'003}, {{"--stale-replies"}, 600'003}};
    for (const auto& [fault, blockSize] : cases) {
        SCOPED_TRACE(fault[0]);
        Start(fault, 2000, Lan::Vxi11);
        for (int round = 0; round < 2; ++round) {
            ExpectIdn(m_vi, "QUARVEL,SIM-1,0,1.0");
            std::vector<unsigned char> block(blockSize);
            EXPECT_TRUE(quarvel::test::QueryTestBlock(m_vi, blockSize, block));
            EXPECT_EQ(Opc(m_vi), VI_SUCCESS);
        }
    }
}

namespace {

// A TCP socket bound to a free loopback port, listening when asked, and its
// port (0 when it could not be had).
std::pair<int, int> LoopbackSocket(bool listening) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                       (!listening || listen(fd, 4) == 0) &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    return {fd, bound ? ntohs(addr.sin_port) : 0};
}

} // namespace

// (A refused SOCKET connection: quarvel-cli's ConnectionRefused case.)
TEST(VisaOpen, HostsThatDoNotAnswerAreNotFoundWithinTheTimeout) {
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(rm, VI_ATTR_TMO_VALUE, 500), VI_SUCCESS);
    // A listener that never accepts nor answers: the portmapper of a host
    // that has hung; and a port nobody listens on, once closed.
    const auto [silent, silentPort] = LoopbackSocket(true);
    const auto [probe, closedPort] = LoopbackSocket(false);
    close(probe);
    ASSERT_TRUE(silentPort != 0 && closedPort != 0);

    ViSession vi = VI_NULL;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(viSetAttribute(rm, QVI_ATTR_PORTMAPPER_PORT, silentPort), VI_SUCCESS);
    EXPECT_EQ(viOpen(rm, "TCPIP0::127.0.0.1::inst0::INSTR", VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    ASSERT_EQ(viSetAttribute(rm, QVI_ATTR_PORTMAPPER_PORT, closedPort), VI_SUCCESS);
    EXPECT_EQ(viOpen(rm, "TCPIP0::127.0.0.1::INSTR", VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(vi, VI_NULL);
    close(silent);
    viClose(rm);
}

namespace {

TEST(VisaIpv6, LoopbackEndToEndOverSocketVxi11AndHislip) {
    // The simulator on ::1 only: every LAN transport reaches it by a
    // bracketed address, the portmapper over TCP included.
    SimProcess sim({"--address", "::1", "--instrument", "generic", "--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    const ViSession rm = SimResourceManager(sim);
    for (const std::string& resource :
         {"TCPIP0::[::1]::" + std::to_string(sim.SocketPort()) + "::SOCKET",
          std::string("TCPIP0::[::1]::inst0::INSTR"),
          "TCPIP0::[::1]::hislip0," + std::to_string(sim.HislipPort()) + "::INSTR"}) {
        SCOPED_TRACE(resource);
        ViSession vi = VI_NULL;
        ASSERT_EQ(viOpen(rm, resource.c_str(), VI_NULL, 0, &vi), VI_SUCCESS);
        char idn[256] = {};
        EXPECT_EQ(viQueryf(vi, "*IDN?\n", "%t", idn), VI_SUCCESS);
        EXPECT_STREQ(idn, "ACME,X1,1,1.0\n");
        std::vector<unsigned char> block(100000);
        ViUInt32 count = static_cast<ViUInt32>(block.size());
        EXPECT_EQ(viQueryf(vi, ":TEST:BLOCK? 100000\n", "%#b\n", &count, block.data()), VI_SUCCESS);
        ASSERT_EQ(count, 100000u);
        EXPECT_EQ(FirstWrongTestByte(block, count), count);
        char address[256] = {};
        EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TCPIP_ADDR, address), VI_SUCCESS);
        EXPECT_STREQ(address, "::1");
        viClose(vi);
    }
    viClose(rm);
}

} // namespace
