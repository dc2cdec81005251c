// The Rigol DHO's waveform method through the window's capture controller
// (the path quarvel-cli takes too): a dirfile is written for the channel
// that could be read, and the status line names the one whose preamble
// gave no time axis after the usual words.

#include "tests/capture/sim_bench.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using quarvel::test::FileNamesIn;
using quarvel::test::ReadFileBytes;
using quarvel::test::SimBench;

TEST(WaveformRigolDhoWindow, DirfileOfTheReadableChannelAndTheReasonForTheOther) {
    SimBench bench(
        {"--instrument", "rigol-dho", "--habit", "zero-xinc=2", "--waveform-points", "2000"});
    ASSERT_TRUE(bench.Connect()) << bench.window.LastStatus();
    auto& form = bench.window.form;
    form.baseName = "shot";
    form.retrieveWaveforms = true;
    form.dataFormat = DataFormat::Dirfile;
    form.tickedChannels = {"CHAN1", "CHAN2"};
    bench.controller.StartOrAbortCapture();

    EXPECT_TRUE(bench.controller.LastCaptureSucceeded());
    EXPECT_EQ(bench.window.LastStatus(),
              "Data capture finished. Screenshot saved successfully to " +
                  bench.dir.File("shot.png") +
                  ". Waveform data saving done. CHAN2: the preamble gives a time increment of "
                  "0.000000e+00, no usable time axis.");
    std::vector<std::string> fields = FileNamesIn(bench.dir.File("shot"));
    std::sort(fields.begin(), fields.end());
    EXPECT_EQ(fields, (std::vector<std::string>{"CHAN1.dat", "format", "xaxis.dat"}));
    EXPECT_EQ(ReadFileBytes(bench.dir.File("shot/CHAN1.dat")).size(), 2000u * sizeof(double));
}

} // namespace
