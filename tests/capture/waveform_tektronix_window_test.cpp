// A Tektronix family that is a definition, captured through the window's
// controller (the fake window, quarvel-sim over a real socket): the same
// capture code as quarvel-cli, with the window's "Stop instrument while
// capturing" and its status line.
#include "tests/capture/sim_bench.h"

#include "instr/instr_connection.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using quarvel::test::ReadFileText;
using quarvel::test::SimBench;

TEST(TektronixWindowCapture, EightChannelModelWritesItsSourcesAndNamesTheOneSwitchedOff) {
    SimBench bench({"--instrument", "tek-mso", "--idn",
                    "TEKTRONIX,MSO58,B010001,CF:91.1CT FV:1.44.3.433", "--waveform-points",
                    "30000"});
    ASSERT_TRUE(bench.Connect());
    auto& form = bench.window.form;
    form.baseName = "shot";
    form.retrieveWaveforms = true;
    form.dataFormat = DataFormat::Csv;
    form.stopWhileCapturing = true;
    form.tickedChannels = {"CH1", "CH8", "MATH1"}; // MATH1 is off on the instrument
    bench.controller.StartOrAbortCapture();

    EXPECT_TRUE(bench.controller.LastCaptureSucceeded());
    EXPECT_EQ(bench.window.LastStatus(),
              "Data capture finished. Screenshot saved successfully to " +
                  bench.dir.File("shot.png") +
                  ". Waveform data saving done. MATH1 is switched off.");
    const std::string csv = ReadFileText(bench.dir.File("shot.csv"));
    ASSERT_EQ(csv.rfind("time/s;CH1(voltage/V);CH8(voltage/V)\r\n", 0), 0u);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 30000 + 1);
    // The window stopped the scope and runs it again; the method found it
    // stopped and left the run state to the window.
    bench.Sync();
    EXPECT_EQ(bench.CountReceived("ACQuire:STATE STOP"), 1);
    EXPECT_EQ(bench.CountReceived("ACQuire:STATE RUN"), 1);
    EXPECT_GT(bench.IndexOfReceived("ACQuire:STATE RUN"), bench.IndexOfReceived("CURVe?"));
}

} // namespace
