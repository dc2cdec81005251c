// The Rohde & Schwarz channels through the window's capture controller, with
// "Stop instrument while capturing": the picture is saved, the data file
// holds the whole record (read stopped) of the channels shown, and the
// status line names the channel switched off at the instrument.

#include "tests/capture/sim_bench.h"

#include "instr/instr_connection.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using quarvel::test::ReadFileText;
using quarvel::test::SimBench;

TEST(WaveformCaptureRs, ChannelsThroughTheWindowWithTheReasonForAMissingOne) {
    SimBench bench({"--instrument", "rs-rtb", "--waveform-points", "12000"});
    ASSERT_TRUE(bench.Connect());
    {
        CInstrConnection panel;
        ASSERT_TRUE(panel.Open(bench.sim.SocketResource()));
        ViInt32 done = 0;
        ASSERT_EQ(viPrintf(panel.GetSession(), "CHANnel4:STATe OFF\n"), VI_SUCCESS);
        ASSERT_EQ(viQueryf(panel.GetSession(), "*OPC?\n", "%d", &done), VI_SUCCESS);
    }
    auto& form = bench.window.form;
    form.baseName = "shot";
    form.retrieveWaveforms = true;
    form.dataFormat = DataFormat::Csv;
    form.stopWhileCapturing = true;
    form.tickedChannels = {"CHAN2", "CHAN4"};
    bench.controller.StartOrAbortCapture();

    EXPECT_TRUE(bench.controller.LastCaptureSucceeded());
    EXPECT_EQ(bench.window.LastStatus(),
              "Data capture finished. Screenshot saved successfully to " +
                  bench.dir.File("shot.png") +
                  ". Waveform data saving done. CHAN4 is switched off.");
    const std::string csv = ReadFileText(bench.dir.File("shot.csv"));
    ASSERT_EQ(csv.rfind("time/s;CHAN2(voltage/V)\r\n", 0), 0u);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 12000 + 1);
}

} // namespace
