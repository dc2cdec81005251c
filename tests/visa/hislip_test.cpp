// What only HiSLIP has, against quarvel-sim's HiSLIP server over loopback:
// fragmented responses, Error and FatalError, a stalled reply that device
// clear (or the next query) ends, locks on the asynchronous channel, and
// peers that do not speak HiSLIP. The status byte's query on that channel is
// checked by Wireshark's decoder (wire_decoder_test.cpp).

#include "tests/visa/sim_fixture.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

class HislipSim : public quarvel::test::VisaSimFixture {
protected:
    void Start(std::vector<std::string> args, ViUInt32 timeoutMs = 2000) {
        VisaSimFixture::Start(args, timeoutMs, quarvel::test::Lan::Hislip);
    }
    ViStatus Opc() { return VisaSimFixture::Opc(m_vi); }
};

TEST_F(HislipSim, ResponsesInManyDataMessagesAndTcpPiecesArriveWhole) {
    Start({"--hislip-fragment", "5", "--tiny-pieces", "11", "--idn", "ACME,FRAG,1,2.0"}, 10000);
    ExpectIdn(m_vi, "ACME,FRAG,1,2.0");
    std::vector<unsigned char> block(3000);
    EXPECT_TRUE(quarvel::test::QueryTestBlock(m_vi, 2000, block));
}

// Error fails the call and the session goes on; FatalError ends the
// session, not the instrument: a new session works.
TEST_F(HislipSim, ErrorFailsTheCallAndFatalErrorEndsTheSessionButNotTheInstrument) {
    for (const auto& [fault, failed, after] :
         {std::tuple{"--hislip-error", VI_ERROR_IO, VI_SUCCESS},
          std::tuple{"--hislip-fatal", VI_ERROR_CONN_LOST, VI_ERROR_CONN_LOST}}) {
        Start({fault, "--fault-on", "*IDN?"});
        char idn[256] = {};
        EXPECT_EQ(viQueryf(m_vi, "*IDN?\n", "%t", idn), failed) << fault;
        EXPECT_EQ(Opc(), after) << fault;
        ASSERT_EQ(viClose(m_vi), VI_SUCCESS);
        m_vi = Open(m_sim->HislipResource());
        EXPECT_EQ(Opc(), VI_SUCCESS);
    }
}

TEST_F(HislipSim, StalledReplyEndsByDeviceClearOrByTheNextQuery) {
    Start({"--hislip-stall", "--fault-on", "*IDN?"}, 300);
    char idn[256] = {};
    auto start = Clock::now();
    EXPECT_EQ(viQueryf(m_vi, "*IDN?\n", "%t", idn), VI_ERROR_TMO);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    ASSERT_EQ(viClear(m_vi), VI_SUCCESS);
    EXPECT_EQ(Opc(), VI_SUCCESS);

    // Without a clear, the next query interrupts the stalled reply; the
    // Interrupted notices on both channels are passed over.
    EXPECT_EQ(viQueryf(m_vi, "*IDN?\n", "%t", idn), VI_ERROR_TMO);
    EXPECT_EQ(Opc(), VI_SUCCESS);
    ViUInt16 stb = 0xFF;
    EXPECT_EQ(viReadSTB(m_vi, &stb), VI_SUCCESS);
    EXPECT_EQ(stb, 0);
}

TEST_F(HislipSim, LocksAreHeldAtTheInstrumentAcrossSessions) {
    Start({});
    const ViSession other = Open(m_sim->HislipResource());
    ASSERT_EQ(viLock(m_vi, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
    EXPECT_EQ(viLock(other, VI_EXCLUSIVE_LOCK, 50, nullptr, nullptr), VI_ERROR_RSRC_LOCKED);
    ASSERT_EQ(viUnlock(m_vi), VI_SUCCESS);
    ASSERT_EQ(viLock(other, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
    // A session that goes takes its lock with it; the request waits for that.
    ASSERT_EQ(viClose(other), VI_SUCCESS);
    EXPECT_EQ(viLock(m_vi, VI_EXCLUSIVE_LOCK, 1500, nullptr, nullptr), VI_SUCCESS);
    EXPECT_EQ(Opc(), VI_SUCCESS);
}

TEST_F(HislipSim, PeersThatDoNotSpeakHislipAreNotFoundWithinTheTimeout) {
    Start({}, 400);
    // The raw socket server takes the Initialize for SCPI text and never answers.
    const std::string notHislip =
        "TCPIP0::127.0.0.1::hislip0," + std::to_string(m_sim->SocketPort()) + "::INSTR";
    ViSession vi = VI_NULL;
    const auto start = Clock::now();
    EXPECT_EQ(viOpen(m_rm, notHislip.c_str(), VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(vi, VI_NULL);
}

} // namespace
