// A cancel in the middle of a channel's data block, through the capture
// controller, quarvel-sim over real sockets and USB/IP, real files: the
// block's read stops there, nothing of the capture is written, the scope runs
// again, and the next capture on the same connection reads whole records.
// A cancel between the pages of a paged read stops it after the current one.
#include "capture/capture_controller.h"
#include "capture/waveform_capture.h"
#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "tests/capture/fake_capture_window.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using quarvel::test::FileNamesIn;
using quarvel::test::ReadFileText;
using quarvel::test::SimProcess;
using quarvel::test::TempDir;

// Cancels once, in the first report of the data block (`blockBytes` long,
// its header counted or not) that has come an eighth of the way; keeps what
// the block's transfer reported afterwards.
class CancellingWindow : public quarvel::test::FakeCaptureWindow {
public:
    std::uint64_t blockBytes = 0;
    bool armed = true;
    bool cancelled = false;
    std::uint64_t doneAtCancel = 0;
    // The most a transfer of the cancelled block's length reported after the
    // cancel (0: none reported).
    std::uint64_t doneAfterCancel = 0;

    bool TransferProgress(std::uint64_t done, std::uint64_t expected) override {
        if (expected == kTransferSizeUnknown || expected < blockBytes || expected > blockBytes + 16)
            return false;
        if (cancelled) {
            doneAfterCancel = std::max(doneAfterCancel, done);
            return false;
        }
        if (!armed || done < expected / 8)
            return false;
        cancelled = true;
        doneAtCancel = done;
        return true;
    }
};

enum class Way { Socket, Hislip, Usb };

struct Case {
    const char* name;
    std::vector<std::string> simArgs;
    Way way;
    std::size_t points;     // of the channel's record
    std::size_t blockBytes; // of the block the cancel falls into
    const char* setUp;      // sent before the captures ("" none)
};

std::size_t CountLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

bool Received(const std::vector<std::string>& transcript, const std::string& command) {
    return std::find(transcript.begin(), transcript.end(), command) != transcript.end();
}

} // namespace

TEST(WaveformCancel, ACancelInsideADataBlockWritesNothingAndTheNextCaptureReadsWholeRecords) {
    // Each data reply is sent at 4 MB/s, so a cancel comes long before its
    // end: one block of 600 kB (Infiniium WORD), one of 500 kB (InfiniiVision
    // BYTE), and one 250 000-point Rigol page of a 300 000-point record.
    const std::vector<std::string> slowData = {"--rate", "4000", "--fault-on", ":WAVeform:DATA?"};
    const Case cases[] = {
        {"infiniium",
         {"--instrument", "infiniium", "--waveform-points", "300000"},
         Way::Socket,
         300000,
         600000,
         ""},
        {"infiniivision",
         {"--instrument", "infiniivision-x"},
         Way::Hislip,
         500000,
         500000,
         ":SIMulate:WAVeform:POINts 500000\n"},
        {"rigol",
         {"--instrument", "rigol", "--waveform-points", "300000"},
         Way::Usb,
         300000,
         250000,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.simArgs;
        args.insert(args.end(), slowData.begin(), slowData.end());
        SimProcess sim(args);
        ASSERT_TRUE(sim.Started()) << sim.Output();
        TempDir dir;
        CancellingWindow window;
        window.blockBytes = c.blockBytes;
        auto& form = window.form;
        form.imageDir = dir.Path();
        form.baseName = "shot";
        form.retrieveWaveforms = true;
        form.dataFormat = DataFormat::Csv;
        form.stopWhileCapturing = true;
        form.tickedChannels = {"CHAN1", "CHAN2"};
        CCaptureController controller(window);
        switch (c.way) {
        case Way::Socket:
            form.visaAddress = sim.SocketResource();
            break;
        case Way::Hislip:
            form.visaAddress = sim.HislipResource();
            break;
        case Way::Usb:
            form.visaAddress = sim.UsbResource();
            setenv("QUARVEL_USBIP", sim.UsbipServer().c_str(), 1);
            break;
        }
        controller.ToggleConnection();
        unsetenv("QUARVEL_USBIP");
        ASSERT_TRUE(controller.HasDriver()) << window.LastStatus();
        const ViSession session = controller.Connection().GetSession();
        if (*c.setUp != '\0') {
            ASSERT_EQ(viPrintf(session, "%s", c.setUp), VI_SUCCESS);
        }

        sim.ClearTranscript();
        controller.StartOrAbortCapture();
        ASSERT_TRUE(window.cancelled);
        EXPECT_EQ(window.LastStatus(), "Capture cancelled.");
        EXPECT_FALSE(controller.LastCaptureSucceeded());
        EXPECT_TRUE(FileNamesIn(dir.Path()).empty());
        // The block was not read on to its end after the cancel.
        EXPECT_LT(window.doneAfterCancel, c.blockBytes) << window.doneAtCancel;
        // The cancel came in the first channel's data: the second channel's
        // was never asked for; the scope was run again.
        ViInt32 complete = 0;
        ASSERT_EQ(viQueryf(session, "*OPC?\n", "%d", &complete), VI_SUCCESS);
        const std::vector<std::string> transcript = sim.Transcript();
        EXPECT_TRUE(Received(transcript, ":WAV:SOUR CHAN1"));
        EXPECT_FALSE(Received(transcript, ":WAV:SOUR CHAN2"));
        EXPECT_TRUE(Received(transcript, ":RUN"));

        // The same connection: the scope is stopped again (its run state
        // read as a line, not taken for the rest of the abandoned block), and
        // a capture reads both channels whole.
        window.armed = false;
        sim.ClearTranscript();
        controller.StartOrAbortCapture();
        const std::vector<std::string> second = sim.Transcript();
        const auto stop = std::find(second.begin(), second.end(), ":STOP");
        const auto image = std::find_if(second.begin(), second.end(), [](const std::string& line) {
            return line.rfind(":DISP", 0) == 0;
        });
        EXPECT_TRUE(stop < image) << ::testing::PrintToString(second);
        EXPECT_TRUE(controller.LastCaptureSucceeded()) << window.LastStatus();
        EXPECT_EQ(FileNamesIn(dir.Path()), (std::vector<std::string>{"shot.csv", "shot.png"}));
        const std::string csv = ReadFileText(dir.File("shot.csv"));
        EXPECT_EQ(csv.rfind("time/s;CHAN1(voltage/V);CHAN2(voltage/V)\r\n", 0), 0u);
        EXPECT_EQ(CountLines(csv), c.points + 1);
    }
}

// A cancel between two pages of a paged read (asked for at the first page's
// end): no record of the channel, no further page asked for, the scope run
// again.
TEST(WaveformCancel, APagedReadStopsAfterTheCurrentPage) {
    struct Paged {
        std::vector<std::string> simArgs;
        std::vector<std::string> channels;
        const char* problem;
        const char* run;
    };
    const Paged cases[] = {
        {{"--instrument", "rigol", "--waveform-points", "1000000"},
         {"CHAN1", "CHAN2"},
         "CHAN1: cancelled after point 250000.",
         ":RUN"},
        {{"--instrument", "siglent-hd", "--waveform-points", "30000", "--waveform-page", "10000"},
         {"C1", "C2"},
         "C1: cancelled after point 10000.",
         ":TRIG:RUN"},
    };
    for (const Paged& c : cases) {
        SCOPED_TRACE(c.simArgs[1]);
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.Started());
        CInstrConnection connection;
        ASSERT_TRUE(connection.Open(sim.SocketResource()));
        ASSERT_TRUE(connection.QueryIdn());
        ASSERT_TRUE(connection.CreateDriver());
        sim.ClearTranscript();
        int asked = 0;
        WaveformRecordList records;
        const std::string problems = CaptureWaveforms(*connection.GetDriver(), c.channels, records,
                                                      {}, [&] { return ++asked > 1; });
        EXPECT_TRUE(records.empty());
        EXPECT_EQ(problems, c.problem);
        ViInt32 done = 0; // everything sent before has been taken in
        ASSERT_EQ(viQueryf(connection.GetSession(), "*OPC?\n", "%d", &done), VI_SUCCESS);
        const std::vector<std::string> received = sim.Transcript();
        const auto data = std::find(received.begin(), received.end(), ":WAV:DATA?");
        EXPECT_EQ(std::count(received.begin(), received.end(), ":WAV:DATA?"), 1);
        EXPECT_NE(std::find(data, received.end(), c.run), received.end());
    }
}
