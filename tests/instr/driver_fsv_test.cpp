// The R&S FSV driver's one-time hardcopy set-up against the simulated
// analyser: sent again after it failed and on a new connection, never twice
// (its images and colour map over every link: driver_families_test.cpp).

#include "instr/instr_rs_fsv.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quarvel::test {
namespace {

// Whether `sent` holds the hardcopy set-up (the analyser serves no file
// without it: tests/sim/families_test.cpp), told by its destination command.
bool HasSetUp(const Lines& sent) {
    return std::find(sent.begin(), sent.end(), ":HCOPY:DESTINATION 'MMEM'") != sent.end();
}

// A session number the VISA layer does not know (its session was closed), so
// every command sent through it fails.
ViSession ClosedSession(SimDriver& sim) {
    ViSession session = 0;
    if (viOpen(sim.Connection().GetResourceManager(), sim.Sim().SocketResource().c_str(), VI_NULL,
               0, &session) != VI_SUCCESS)
        return 0;
    viClose(session);
    return session;
}

class FsvDriver : public ::testing::TestWithParam<Lan> {};

INSTANTIATE_TEST_SUITE_P(Lan, FsvDriver,
                         ::testing::Values(Lan::Socket, Lan::Vxi11, Lan::Hislip, Lan::Usb),
                         [](const auto& info) { return LanName(info.param); });

TEST_P(FsvDriver, SetUpOncePerConnectionAndWholeAgainAfterItFailed) {
    SimDriver sim("fsv", GetParam());
    ASSERT_TRUE(sim.Ready());
    auto* fsv = dynamic_cast<CInstrRSFSV*>(&sim.Driver());
    ASSERT_NE(fsv, nullptr);
    const ViSession good = fsv->GetSession();
    const ViSession closed = ClosedSession(sim);
    ASSERT_NE(closed, 0u);
    ASSERT_NE(closed, good);
    sim.TakeTranscript();

    fsv->SetSession(closed);
    ByteBuffer out;
    EXPECT_FALSE(fsv->GetScreenshot(out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(fsv->IsHardcopyReady());

    fsv->SetSession(good);
    ASSERT_TRUE(fsv->GetScreenshot(out));
    EXPECT_TRUE(HasSetUp(sim.TakeTranscript()));
    EXPECT_EQ(sim.ServedImages().back(), out);

    // A capture failing after the set-up keeps the set-up done.
    fsv->SetSession(closed);
    ByteBuffer failed;
    EXPECT_FALSE(fsv->GetScreenshot(failed));
    EXPECT_TRUE(failed.empty());
    EXPECT_TRUE(fsv->IsHardcopyReady());
    fsv->SetSession(good);
    ByteBuffer later;
    ASSERT_TRUE(fsv->GetScreenshot(later));
    EXPECT_FALSE(HasSetUp(sim.TakeTranscript()));
    EXPECT_EQ(sim.ServedImages().back(), later);

    // A new connection, with a driver of its own, sends it again.
    sim.Connection().Disconnect();
    ASSERT_TRUE(ConnectToSim(sim.Connection(), sim.Sim(), GetParam()));
    sim.TakeTranscript();
    ASSERT_TRUE(sim.Driver().GetScreenshot(later));
    EXPECT_TRUE(HasSetUp(sim.TakeTranscript()));
}

} // namespace
} // namespace quarvel::test
