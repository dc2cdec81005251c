// A cancel in the middle of a channel's data block, through the capture
// controller, quarvel-sim over real sockets and USB/IP, real files: the
// block's read stops there, nothing of the capture is written, the scope runs
// again, and the next capture on the same connection reads whole records.
// A cancel between the pages of a paged read stops it after the current one.
#include "capture/waveform_capture.h"
#include "tests/capture/sim_bench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quarvel::test {
namespace {

TEST(WaveformCancel, ACancelInsideADataBlockWritesNothingAndTheNextCaptureReadsWholeRecords) {
    // Each data reply is sent at 4 MB/s, so a cancel comes long before its
    // end: one block of 600 kB (Infiniium WORD), one of 500 kB (InfiniiVision
    // BYTE), and one 250 000-point Rigol page of a 300 000-point record.
    const std::string slowData = " --rate 4000 --fault-on :WAVeform:DATA?";
    struct Case {
        std::string simArgs;
        Lan lan;
        std::size_t points;     // of the channel's record
        std::size_t blockBytes; // of the block the cancel falls into
        const char* setUp;      // sent before the captures ("" none)
    };
    const Case cases[] = {
        {"--instrument infiniium --waveform-points 300000", Lan::Socket, 300000, 600000, ""},
        {"--instrument infiniivision-x", Lan::Hislip, 500000, 500000,
         ":SIMulate:WAVeform:POINts 500000\n"},
        {"--instrument rigol --waveform-points 300000", Lan::Usb, 300000, 250000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.simArgs);
        SimBench bench(Words(c.simArgs + slowData));
        ASSERT_TRUE(bench.sim.Started()) << bench.sim.Output();
        // Cancels once, in the first report of the data block (its header
        // counted or not) that has come an eighth of the way; keeps the most
        // the block's transfer reported afterwards.
        bool armed = true;
        bool cancelled = false;
        std::uint64_t doneAtCancel = 0;
        std::uint64_t doneAfterCancel = 0;
        bench.window.onTransfer = [&](std::uint64_t done, std::uint64_t expected) {
            if (expected == kTransferSizeUnknown || expected < c.blockBytes ||
                expected > c.blockBytes + 16)
                return false;
            if (cancelled)
                doneAfterCancel = std::max(doneAfterCancel, done);
            if (cancelled || !armed || done < expected / 8)
                return false;
            doneAtCancel = done;
            cancelled = true;
            return true;
        };
        auto& form = bench.window.form;
        form.baseName = "shot";
        form.retrieveWaveforms = true;
        form.dataFormat = DataFormat::Csv;
        form.stopWhileCapturing = true;
        form.tickedChannels = {"CHAN1", "CHAN2"};
        ASSERT_TRUE(bench.ConnectOver(c.lan)) << bench.window.LastStatus();
        if (*c.setUp != '\0') {
            ASSERT_EQ(viPrintf(bench.controller.Connection().GetSession(), "%s", c.setUp),
                      VI_SUCCESS);
        }

        bench.sim.ClearTranscript();
        bench.controller.StartOrAbortCapture();
        ASSERT_TRUE(cancelled);
        EXPECT_EQ(bench.window.LastStatus(), "Capture cancelled.");
        EXPECT_FALSE(bench.controller.LastCaptureSucceeded());
        EXPECT_TRUE(FileNamesIn(bench.dir.Path()).empty());
        // The block was not read on to its end after the cancel.
        EXPECT_LT(doneAfterCancel, c.blockBytes) << doneAtCancel;
        // The cancel came in the first channel's data: the second channel's
        // was never asked for; the scope was run again.
        EXPECT_GE(bench.IndexOfReceived(":WAV:SOUR CHAN1"), 0);
        EXPECT_EQ(bench.IndexOfReceived(":WAV:SOUR CHAN2"), -1);
        EXPECT_GE(bench.IndexOfReceived(":RUN"), 0);

        // The same connection: the scope is stopped again (its run state
        // read as a line, not taken for the rest of the abandoned block), and
        // a capture reads both channels whole.
        armed = false;
        bench.sim.ClearTranscript();
        bench.controller.StartOrAbortCapture();
        const std::vector<std::string> second = bench.sim.Transcript();
        const auto stop = std::find(second.begin(), second.end(), ":STOP");
        const auto image = std::find_if(second.begin(), second.end(), [](const std::string& line) {
            return line.rfind(":DISP", 0) == 0;
        });
        EXPECT_TRUE(stop < image) << ::testing::PrintToString(second);
        EXPECT_TRUE(bench.controller.LastCaptureSucceeded()) << bench.window.LastStatus();
        EXPECT_EQ(FileNamesIn(bench.dir.Path()),
                  (std::vector<std::string>{"shot.csv", "shot.png"}));
        const std::string csv = ReadFileText(bench.dir.File("shot.csv"));
        EXPECT_EQ(csv.rfind("time/s;CHAN1(voltage/V);CHAN2(voltage/V)\r\n", 0), 0u);
        EXPECT_EQ(CountLines(csv), c.points + 1);
    }
}

// A cancel between two pages of a paged read (asked for at the first page's
// end): no record of the channel, no further page asked for, the scope run
// again.
TEST(WaveformCancel, APagedReadStopsAfterTheCurrentPage) {
    struct Paged {
        std::string simArgs;
        std::vector<std::string> channels;
        const char* problem;
        const char* run;
    };
    const Paged cases[] = {
        {"--instrument rigol --waveform-points 1000000",
         {"CHAN1", "CHAN2"},
         "CHAN1: cancelled after point 250000.",
         ":RUN"},
        {"--instrument siglent-hd --waveform-points 30000 --waveform-page 10000",
         {"C1", "C2"},
         "C1: cancelled after point 10000.",
         ":TRIG:RUN"},
    };
    for (const Paged& c : cases) {
        SCOPED_TRACE(c.simArgs);
        SimBench bench(Words(c.simArgs));
        ASSERT_TRUE(bench.Connect()) << bench.sim.Output();
        bench.sim.ClearTranscript();
        int asked = 0;
        WaveformRecordList records;
        const std::string problems =
            CaptureWaveforms(*bench.controller.Connection().GetDriver(), c.channels, records, {},
                             [&] { return ++asked > 1; });
        EXPECT_TRUE(records.empty());
        EXPECT_EQ(problems, c.problem);
        const int data = bench.IndexOfReceived(":WAV:DATA?");
        EXPECT_EQ(bench.CountReceived(":WAV:DATA?"), 1);
        EXPECT_GT(bench.IndexOfReceived(c.run, data), data);
    }
}

} // namespace
} // namespace quarvel::test
