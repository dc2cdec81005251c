// Threads as the VISA standard describes them, against quarvel-sim over every
// transport: calls on different sessions run side by side, calls on one
// session one after another, and viClose of a session that another thread is
// blocked in ends that call at once with an error. Run under the tsan and
// asan presets too (data races, use after free, leaks).

#include "tests/visa/sim_fixture.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

using quarvel::test::Lan;
using quarvel::test::LanName;
using quarvel::test::QueryTestBlock;

namespace {

class VisaThreads : public quarvel::test::VisaSimFixture,
                    public ::testing::WithParamInterface<Lan> {
protected:
    void SetUp() override { Start({"--instrument", "generic", "--idn", "ACME,X1,1,1.0"}); }
    ViSession Open() {
        const ViSession vi = VisaSimFixture::Open(quarvel::test::ResourceOn(*m_sim, GetParam()));
        if (vi != VI_NULL)
            viSetAttribute(vi, VI_ATTR_TMO_VALUE, 10000);
        return vi;
    }
};

TEST_P(VisaThreads, SessionsOfTheirOwnAndOneSharedSessionStayInStep) {
    // Each thread its own session, and all of them also one shared session,
    // with queries whose replies differ in length: a reply taken by the
    // wrong caller, or two calls interleaved on the shared session, shows.
    constexpr int kThreads = 4;
    constexpr int kRounds = 6;
    const ViSession shared = Open();
    ASSERT_NE(shared, VI_NULL);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const ViSession own = Open();
            std::vector<unsigned char> buffer(300000);
            for (int round = 0; round < kRounds; ++round) {
                const std::size_t n = 1000 * static_cast<std::size_t>(t + 1) + round * 37000u;
                if (!QueryTestBlock(own, n, buffer) || !QueryTestBlock(shared, n + 1, buffer))
                    ++failures;
            }
            viClose(own);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(viClose(shared), VI_SUCCESS);
}

TEST_P(VisaThreads, CloseEndsAReadBlockedInAnotherThreadAtOnce) {
    // Nothing was asked, so the read waits for its 20 s timeout unless the
    // close ends it. The bound below is far under that timeout and far over
    // the wake-up interval of a wait (tens of milliseconds).
    const ViSession vi = Open();
    ASSERT_NE(vi, VI_NULL);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 20000), VI_SUCCESS);
    std::atomic<ViStatus> readStatus{VI_SUCCESS};
    std::atomic<bool> reading{false};
    std::thread reader([&] {
        unsigned char buffer[256];
        ViUInt32 got = 0;
        reading = true;
        readStatus = viRead(vi, buffer, sizeof buffer, &got);
    });
    while (!reading)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    reader.join();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(5)) << "the blocked read ran on to its timeout";
    EXPECT_EQ(readStatus.load(), VI_ERROR_ABORT);
    // The handle is gone; a new session on the same device works.
    ViUInt32 got = 0;
    unsigned char byte = 0;
    EXPECT_EQ(viRead(vi, &byte, 1, &got), VI_ERROR_INV_OBJECT);
    const ViSession again = Open();
    ASSERT_NE(again, VI_NULL);
    std::vector<unsigned char> buffer(1000);
    EXPECT_TRUE(QueryTestBlock(again, 1000, buffer));
}

TEST_P(VisaThreads, ClosingTheResourceManagerEndsCallsOnItsSessions) {
    const ViSession vi = Open();
    ASSERT_NE(vi, VI_NULL);
    std::atomic<ViStatus> readStatus{VI_SUCCESS};
    std::thread reader([&] {
        unsigned char buffer[256];
        ViUInt32 got = 0;
        readStatus = viRead(vi, buffer, sizeof buffer, &got);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(viClose(m_rm), VI_SUCCESS);
    m_rm = VI_NULL;
    reader.join();
    EXPECT_EQ(readStatus.load(), VI_ERROR_ABORT);
}

std::string Named(const ::testing::TestParamInfo<Lan>& info) {
    return LanName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Transports, VisaThreads,
                         ::testing::Values(Lan::Socket, Lan::Vxi11, Lan::Hislip, Lan::Usb), Named);

} // namespace
