// The R&S FSV driver against the simulated analyser: the one-time hardcopy
// set-up, the colour map per capture, the file read back as a block.

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

TEST_P(FsvDriver, SetUpOnceThenTheServedFileEachTimeAndNoRunControl) {
    SimDriver sim("fsv", GetParam());
    ASSERT_TRUE(sim.Ready());
    auto* fsv = dynamic_cast<CInstrRSFSV*>(&sim.Driver());
    ASSERT_NE(fsv, nullptr);
    ASSERT_TRUE(sim.SetSessionTimeout(1800));

    ByteBuffer first;
    ASSERT_TRUE(fsv->GetScreenshot(first));
    EXPECT_TRUE(HasSetUp(sim.TakeTranscript()));
    EXPECT_TRUE(fsv->IsHardcopyReady());
    EXPECT_EQ(sim.SessionTimeout(), 1800u);

    // The ink saver changes the colour map of the next hardcopy only.
    fsv->SetInkSaver(true);
    ByteBuffer second;
    ASSERT_TRUE(fsv->GetScreenshot(second));
    EXPECT_FALSE(HasSetUp(sim.TakeTranscript()));
    fsv->SetInkSaver(false);
    ByteBuffer third;
    ASSERT_TRUE(fsv->GetScreenshot(third));
    EXPECT_FALSE(HasSetUp(sim.TakeTranscript()));

    // What arrived is the hardcopy file the analyser served each time.
    const auto served = sim.ServedImages();
    ASSERT_EQ(served.size(), 3u);
    EXPECT_EQ(first, served[0]);
    EXPECT_EQ(second, served[1]);
    EXPECT_EQ(third, served[2]);
    EXPECT_NE(first, second); // inverted colour map, another image
    EXPECT_EQ(first, third);

    // No run control: the menu commands send nothing.
    EXPECT_FALSE(fsv->StopInstrument());
    EXPECT_FALSE(fsv->RunInstrument(true, false));
    EXPECT_FALSE(fsv->RunInstrument(true, true));
    EXPECT_EQ(sim.TakeTranscript(), Lines{});
}

TEST_P(FsvDriver, FailedSetUpIsSentWholeByTheNextCapture) {
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
}

TEST(FsvDriverConnections, ANewConnectionSendsTheSetUpAgain) {
    SimProcess sim({"--instrument", "fsv"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(ConnectToSim(connection, sim, Lan::Socket));
        sim.ClearTranscript();
        ByteBuffer out;
        ASSERT_TRUE(connection.GetDriver()->GetScreenshot(out));
        EXPECT_TRUE(HasSetUp(sim.Transcript()));
        connection.Disconnect();
    }
}

} // namespace
} // namespace quarvel::test
