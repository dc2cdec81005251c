#include "instr/instr_keys_infiniivision.h"
#include "instr/retrieval_channels.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace {

// The simulated scope: 62 500 points at 2 GSa/s, channel 1 a 1 V sine of
// five periods per record, BYTE codes at 31.25 mV per step around
// 12.5 mV, WORD codes 256 times finer.
constexpr std::size_t kPoints = 62500;
constexpr double kRate = 2.0e9;
constexpr double kByteStep = 0.03125;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

double Sine(std::size_t i) {
    return std::sin(2 * std::numbers::pi * 5 * static_cast<double>(i) / kPoints);
}

class InfiniiVisionRetrieval : public quarvel::test::SimRetrieval {};

} // namespace

TEST(InfiniiVisionChannels, EndBeforeBeginSendsNothing) {
    CInstrKeysInfiniiVision driver; // no session: any command would fail
    EXPECT_TRUE(driver.EndDataCapture());
    ChannelList active{"stale"};
    driver.GetActiveChannels(active); // no channel list yet
    EXPECT_TRUE(active.empty());
}

TEST_F(InfiniiVisionRetrieval, ReadsChannelBetweenBeginAndEnd) {
    ASSERT_NO_FATAL_FAILURE(Connect("infiniivision-x"));
    Send(":STOP");
    ASSERT_TRUE(m_driver->BeginDataCapture());
    WaveformRecord record;
    ASSERT_TRUE(m_driver->GetWaveformData("CHAN1", record));
    ASSERT_TRUE(m_driver->EndDataCapture());

    // The record's length set as the time range, as the shortest text that
    // reads back as the same double (six fixed decimals would give
    // 0.000031), and the range the scope had put back at the end.
    const std::vector<std::string> sent = Sent();
    EXPECT_TRUE(Contains(sent, ":TIMEBASE:RANGE 3.125e-05"));
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), ":TIMEBASE:RANGE +1.00000000E-03");

    // The name and labels as a CSV file shows them:
    // WaveformCaptureThrough.SequentialCaptureWritesCsvBesideImage.
    ASSERT_EQ(record.x.size(), kPoints);
    ASSERT_EQ(record.y.size(), kPoints);
    EXPECT_DOUBLE_EQ(record.x[0], -0.5 * kPoints / kRate);
    EXPECT_NEAR(record.x[kPoints - 1], -0.5 * kPoints / kRate + (kPoints - 1) / kRate, 1e-15);
    for (std::size_t i = 0; i < kPoints; i += 997) {
        ASSERT_NEAR(record.y[i], Sine(i), kByteStep / 2 + 1e-12) << i;
    }
}

TEST_F(InfiniiVisionRetrieval, AveragedAcquisitionReadsWordSamples) {
    ASSERT_NO_FATAL_FAILURE(Connect("infiniivision-x"));
    Send(":STOP;:ACQuire:TYPE AVERage");
    WaveformRecord record;
    ASSERT_TRUE(m_driver->GetWaveformData("CHAN1", record));
    EXPECT_TRUE(Contains(Sent(), ":WAVEFORM:FORMAT WORD"));
    ASSERT_EQ(record.y.size(), kPoints);
    // WORD codes resolve 1/256 of a BYTE step: only a correct LSB-first
    // reading lands this close.
    for (std::size_t i = 0; i < kPoints; i += 101) {
        ASSERT_NEAR(record.y[i], Sine(i), kByteStep / 256 / 2 + 1e-12) << i;
    }

    Send(":ACQuire:TYPE HRESolution");
    ASSERT_TRUE(m_driver->GetWaveformData("CHAN1", record));
    EXPECT_TRUE(Contains(Sent(), ":WAVEFORM:FORMAT BYTE"));
}

TEST_F(InfiniiVisionRetrieval, PodsCarryTheCounterOverVxi11) {
    // MSO7104B: four channels and two pods.
    ASSERT_NO_FATAL_FAILURE(Connect("infiniivision", true));
    Send(":STOP");
    WaveformRecord pod1;
    WaveformRecord pod2;
    ASSERT_TRUE(m_driver->GetWaveformData("POD1", pod1));
    ASSERT_TRUE(m_driver->GetWaveformData("POD2", pod2));
    ASSERT_EQ(pod1.y.size(), kPoints);
    ASSERT_EQ(pod2.y.size(), kPoints);
    for (std::size_t i : {0u, 1u, 255u, 256u, 4097u, 62499u}) {
        EXPECT_EQ(pod1.y[i], static_cast<double>(i & 0xFF)) << i;
        EXPECT_EQ(pod2.y[i], static_cast<double>((i >> 8) & 0xFF)) << i;
    }
    EXPECT_EQ(pod1.name, "POD1");
}

TEST_F(InfiniiVisionRetrieval, ActiveChannelsStopAtFailingStatusQuery) {
    ASSERT_NO_FATAL_FAILURE(Connect("infiniivision-x"));
    ChannelList active;
    m_driver->GetActiveChannels(active);
    EXPECT_EQ(active, (ChannelList{"CHAN1", "CHAN2", "CHAN3", "CHAN4"}));

    Send(":CHANnel2:DISPlay 0");
    m_driver->GetActiveChannels(active);
    EXPECT_EQ(active, (ChannelList{"CHAN1", "CHAN3", "CHAN4"}));

    Send(":SIMulate:STATus:FAIL 'CHAN3'");
    m_driver->GetActiveChannels(active);
    EXPECT_EQ(active, (ChannelList{"CHAN1"}));

    // KeepActiveChannels sees the same list.
    ChannelList selected{"CHAN4", "CHAN1", "CHAN2"};
    KeepActiveChannels(selected, *m_driver);
    EXPECT_EQ(selected, (ChannelList{"CHAN1"}));
}

TEST_F(InfiniiVisionRetrieval, UnusableSampleRateSetsNoRangeButEndRestores) {
    ASSERT_NO_FATAL_FAILURE(Connect("infiniivision-x"));
    for (const char* reply : {"+0.00000000E+00", "RATE", "+INF", "-2.00000000E+09"}) {
        Send(std::string(":SIMulate:SRATe:REPLy '") + reply + "'");
        EXPECT_TRUE(m_driver->BeginDataCapture());
        EXPECT_TRUE(m_driver->EndDataCapture());
        EXPECT_EQ(Sent(),
                  (std::vector<std::string>{":TIMEBASE:RANGE?", ":ACQUIRE:POINTS?",
                                            ":ACQUIRE:SRATE?", ":TIMEBASE:RANGE +1.00000000E-03"}))
            << reply;
    }
    // A rate in another notation is still a real number (1E6 Sa/s for
    // 62 500 points is 62.5 ms); a huge but finite one gives a tiny range,
    // sent all the same as the shortest text that reads back as 62 500 / 9.9E37.
    for (const auto& [rate, range] :
         {std::pair{"1000000", "0.0625"}, std::pair{"+9.9E+37", "6.313131313131313e-34"}}) {
        Send(std::string(":SIMulate:SRATe:REPLy '") + rate + "'");
        EXPECT_TRUE(m_driver->BeginDataCapture());
        EXPECT_TRUE(Contains(Sent(), std::string(":TIMEBASE:RANGE ") + range)) << rate;
    }
}

TEST_F(InfiniiVisionRetrieval, OversizedPreambleFailsTheChannelAndShortBlockCutsTheRecord) {
    ASSERT_NO_FATAL_FAILURE(Connect("infiniivision-x"));
    Send(":STOP;:SIMulate:PREamble:POINts 4000000000");
    WaveformRecord record;
    record.name = "untouched";
    EXPECT_FALSE(m_driver->GetWaveformData("CHAN1", record));
    EXPECT_EQ(record.name, "untouched");
    EXPECT_TRUE(record.x.empty());
    // Refused before any data is asked for.
    EXPECT_FALSE(Contains(Sent(), ":WAVEFORM:DATA?"));

    // The session is clean for the next read. A preamble that claims
    // 70 000 points of the 62 500 sent: the record is cut to what arrived.
    Send(":SIMulate:PREamble:POINts 70000");
    ASSERT_TRUE(m_driver->GetWaveformData("CHAN1", record));
    ASSERT_EQ(record.x.size(), kPoints);
    ASSERT_EQ(record.y.size(), kPoints);
    EXPECT_NEAR(record.y[kPoints - 1], Sine(kPoints - 1), kByteStep / 2 + 1e-12);
    // The same for WORD samples.
    Send(":ACQuire:TYPE AVERage");
    ASSERT_TRUE(m_driver->GetWaveformData("CHAN1", record));
    EXPECT_EQ(record.y.size(), kPoints);
}

TEST_F(InfiniiVisionRetrieval, SwitchedOffSourceGivesNoRecord) {
    ASSERT_NO_FATAL_FAILURE(Connect("infiniivision-x"));
    Send(":CHANnel3:DISPlay OFF");
    WaveformRecord record;
    EXPECT_FALSE(m_driver->GetWaveformData("CHAN3", record));
    EXPECT_TRUE(record.y.empty());
    EXPECT_TRUE(m_driver->GetWaveformData("CHAN4", record));
}
