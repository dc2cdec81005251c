// The R&S FSV against its simulated analyser: the one-time hardcopy set-up,
// sent again after it failed and on a new connection, never twice (its
// images and colour map over every link: driver_families_test.cpp); the
// traces with their display states and labels, the blocks' progress, and
// blocks that are refused.

#include "instr/instr_rs_fsv.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace quarvel::test {
namespace {

// Whether `sent` holds the hardcopy set-up (the analyser serves no file
// without it: tests/sim/families_test.cpp), told by its destination command.
bool HasSetUp(const Lines& sent) {
    return std::find(sent.begin(), sent.end(), ":HCOPY:DESTINATION 'MMEM'") != sent.end();
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
    sim.TakeTranscript();

    fsv->SetSession(VI_NULL); // every command fails
    ByteBuffer out;
    EXPECT_FALSE(fsv->GetScreenshot(out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(fsv->IsHardcopyReady());

    fsv->SetSession(good);
    ASSERT_TRUE(fsv->GetScreenshot(out));
    EXPECT_TRUE(HasSetUp(sim.TakeTranscript()));
    EXPECT_EQ(sim.ServedImages().back(), out);

    // A capture failing after the set-up keeps the set-up done.
    fsv->SetSession(VI_NULL);
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

// The simulated analyser sweeps 691 points from 1 MHz to 3 GHz.
constexpr std::size_t kPoints = 691;

class FsvRetrieval : public SimRetrieval {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Connect("fsv"));
        ASSERT_TRUE(m_driver->BeginDataCapture());
    }
};

TEST_F(FsvRetrieval, DisplayedTracesAreActive) {
    Send("DISP:WIND:TRAC2 OFF;DISP:WIND:TRAC3 ON");
    ChannelList active{"stale"};
    m_driver->GetActiveChannels(active);
    EXPECT_EQ(active, (ChannelList{"TRACE1", "TRACE3"}));
}

TEST_F(FsvRetrieval, ReadsLevelsAndFrequenciesWithLabelsThatLostRepliesLeaveEmpty) {
    // The labels as a CSV file shows them: tests/wavedata/data_writers_test.cpp.
    WaveformRecord record;
    ASSERT_TRUE(m_driver->GetWaveformData("TRACE1", record));
    EXPECT_EQ(record.name, "TRACE1");
    EXPECT_EQ(record.xLabel, "Frequency/Hz");
    EXPECT_EQ(record.yLabel, "Level/DBM");
    EXPECT_EQ(record.yQualifier, "POS/WRIT");
    ASSERT_EQ(record.x.size(), kPoints);
    ASSERT_EQ(record.y.size(), kPoints);
    // Frequencies travel as float32: the values are those floats, widened.
    EXPECT_EQ(record.x.front(), static_cast<double>(1.0e6f));
    EXPECT_EQ(record.x.back(), static_cast<double>(3.0e9f));
    for (double level : record.y) {
        ASSERT_GT(level, -100.0);
        ASSERT_LT(level, 0.0);
    }

    // Trace 2 averages: its averaging type joins the mode.
    Send("SENS:AVER:TYPE LOG;UNIT:POW DBUV");
    ASSERT_TRUE(m_driver->GetWaveformData("TRACE2", record));
    EXPECT_EQ(record.yQualifier, "RMS/AVER/LOG");
    EXPECT_EQ(record.yLabel, "Level/DBUV");

    // Lost text replies leave the labels empty (and run into the time-out:
    // keep it short).
    ASSERT_EQ(viSetAttribute(m_driver->GetSession(), VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    Send(":SIMulate:QUERy:SILent 'UNIT';:SIMulate:QUERy:SILent 'MODE';"
         ":SIMulate:QUERy:SILent 'DETECTOR'");
    ASSERT_TRUE(m_driver->GetWaveformData("TRACE1", record));
    EXPECT_EQ(record.yLabel, "Level/");
    EXPECT_EQ(record.yQualifier, "/");
    EXPECT_EQ(record.y.size(), kPoints);
}

TEST_F(FsvRetrieval, ProgressShowsEachTraceBlockUpToItsLength) {
    // The driver reads the block headers itself; their lengths become the
    // progress totals of the data after them.
    Send("SWE:POIN 32001");
    std::vector<std::pair<ViUInt64, ViUInt64>> reports; // done, expected
    const auto log = [](ViSession, ViUInt64 done, ViUInt64 expected, ViAddr user) -> ViInt32 {
        static_cast<decltype(reports)*>(user)->emplace_back(done, expected);
        return QVI_PROGRESS_CONTINUE;
    };
    ASSERT_EQ(qviSetProgressHandler(m_driver->GetSession(), log, &reports), VI_SUCCESS);
    WaveformRecord record;
    ASSERT_TRUE(m_driver->GetWaveformData("TRACE1", record));
    qviSetProgressHandler(m_driver->GetSession(), nullptr, nullptr);
    ASSERT_EQ(record.y.size(), 32001u);
    // Levels and frequencies: 32001 float32 each, counted up to the whole.
    constexpr ViUInt64 kBlockBytes = 32001 * 4;
    const auto complete =
        std::count(reports.begin(), reports.end(), std::make_pair(kBlockBytes, kBlockBytes));
    EXPECT_EQ(complete, 2);
}

TEST_F(FsvRetrieval, BlocksGoByTheirHeaderAndInvalidOrUnequalOnesLeaveTheRecord) {
    WaveformRecord record;
    // 16 data bytes after "#216": four float32 values per block.
    Send(":SIMulate:TRACe:LEVels:BLOCk '#216',16;:SIMulate:TRACe:X:BLOCk '#216',16");
    ASSERT_TRUE(m_driver->GetWaveformData("TRACE1", record));
    EXPECT_EQ(record.y, (std::vector<double>{-10, -20, -30, -40}));
    EXPECT_EQ(record.x, (std::vector<double>{1e6, 2e6, 3e6, 4e6}));
    // The session stays in step: the labels came from their own replies.
    EXPECT_EQ(record.yLabel, "Level/DBM");
    EXPECT_EQ(record.yQualifier, "POS/WRIT");

    // After each refusal the next trace is read whole: nothing of the
    // refused reply is left for it.
    const auto readsCleanAgain = [&] {
        Send(":SIMulate:TRACe:LEVels:BLOCk '#216',16;:SIMulate:TRACe:X:BLOCk '#216',16");
        WaveformRecord next;
        EXPECT_TRUE(m_driver->GetWaveformData("TRACE1", next));
        EXPECT_EQ(next.x, (std::vector<double>{1e6, 2e6, 3e6, 4e6}));
    };
    record = {};
    record.name = "untouched";

    // 15 bytes are no whole number of float32 values.
    Send(":SIMulate:TRACe:LEVels:BLOCk '#215',15;:SIMulate:TRACe:X:BLOCk '#215',15");
    EXPECT_FALSE(m_driver->GetWaveformData("TRACE1", record));
    EXPECT_EQ(record.name, "untouched");
    readsCleanAgain();

    // Levels of 691 values, frequencies of 4.
    Send(":SIMulate:TRACe:LEVels:BLOCk '';:SIMulate:TRACe:X:BLOCk '#216',16");
    EXPECT_FALSE(m_driver->GetWaveformData("TRACE1", record));
    EXPECT_EQ(record.name, "untouched");
    EXPECT_TRUE(record.x.empty());
    readsCleanAgain();

    // A header announcing a billion bytes is refused before anything is
    // allocated or read.
    Send(":SIMulate:TRACe:X:BLOCk '';:SIMulate:TRACe:LEVels:BLOCk '#9999999996',8");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_driver->GetWaveformData("TRACE1", record));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(record.name, "untouched");
    readsCleanAgain();
}

} // namespace
} // namespace quarvel::test
