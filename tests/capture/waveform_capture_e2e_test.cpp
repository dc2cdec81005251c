// Captures with waveform data through the capture controller: the fake
// window, quarvel-sim over real sockets, real files read back. The
// analyser's traces: the FSV driver's tests (tests/instr/fsv_retrieval_test.cpp)
// and the CSV writer's (tests/wavedata/data_writers_test.cpp).
#include "tests/capture/sim_bench.h"

#include "instr/instr_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace quarvel::test {
namespace {

constexpr std::size_t kScopePoints = 62500;

// Sends commands to the simulated instrument over a connection of its own,
// as a user at the instrument's front panel would change it.
void AtInstrument(const SimBench& bench, const std::string& command) {
    CInstrConnection panel;
    ASSERT_TRUE(panel.Open(bench.sim.SocketResource()));
    ViInt32 done = 0;
    ASSERT_EQ(viPrintf(panel.GetSession(), "%s\n", command.c_str()), VI_SUCCESS);
    ASSERT_EQ(viQueryf(panel.GetSession(), "*OPC?\n", "%d", &done), VI_SUCCESS);
}

bool HasStatus(const SimBench& bench, const std::string& text) {
    const auto& texts = bench.window.statusTexts;
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// "Save sequential" with the number 4: "shot.png" is taken, so the capture
// numbers its files from 0004 on.
void PrepareSequential(SimBench& bench, DataFormat dataFormat, std::vector<std::string> channels) {
    auto& form = bench.window.form;
    form.baseName = "shot";
    form.sequenceText = "0004";
    form.retrieveWaveforms = true;
    form.dataFormat = dataFormat;
    form.stopWhileCapturing = true;
    form.tickedChannels = std::move(channels);
    ASSERT_TRUE(WriteFileBytes(bench.dir.File("shot.png"), "taken"));
}

} // namespace

// Through our own VISA library loaded as if it were a vendor's, every
// resource sent to it, over a raw socket (our own HiSLIP transport under the
// same capture: WaveformCancel's InfiniiVision case).
TEST(WaveformCaptureE2E, SequentialCaptureThroughALoadedLibraryWritesCsvBesideImage) {
    SimBench bench({"--instrument", "infiniivision-x"});
    CInstrConnection& connection = bench.controller.Connection();
    ASSERT_TRUE(connection.UseVisaLibrary({QUARVEL_VISA_SHARED_LIBRARY, true}))
        << connection.LibraryError();
    ASSERT_TRUE(bench.Connect()) << bench.window.LastStatus();
    // Our progress reports are no function of another library's.
    EXPECT_EQ(qviSetProgressHandler(connection.GetSession(), nullptr, nullptr), VI_ERROR_NSUP_OPER);
    PrepareSequential(bench, DataFormat::Csv, {"CHAN1", "CHAN2"});
    bench.controller.StartOrAbortCapture();

    EXPECT_TRUE(bench.controller.LastCaptureSucceeded());
    EXPECT_EQ(bench.window.LastStatus(),
              "Data capture finished. Screenshot saved successfully to " +
                  bench.dir.File("shot-0004.png") + ". Waveform data saving done.");
    EXPECT_EQ(bench.controller.LastDataPath(), bench.dir.File("shot-0004.csv"));
    EXPECT_TRUE(HasStatus(bench, "Saving waveform data..."));
    EXPECT_EQ(FileNamesIn(bench.dir.Path()),
              (std::vector<std::string>{"shot-0004.csv", "shot-0004.png", "shot.png"}));

    // The data was read while the scope was stopped, before it ran again.
    const int data = bench.IndexOfReceived(":WAVEFORM:DATA?");
    ASSERT_GE(data, 0);
    EXPECT_GT(bench.IndexOfReceived(":STOP"), -1);
    EXPECT_LT(bench.IndexOfReceived(":STOP"), data);
    EXPECT_GT(bench.IndexOfReceived(":RUN", data), data);

    const std::string csv = ReadFileText(bench.dir.File("shot-0004.csv"));
    ASSERT_EQ(csv.rfind("time/s;CHAN1(voltage/V);CHAN2(voltage/V)\r\n", 0), 0u);
    EXPECT_EQ(CountLines(csv), kScopePoints + 1);
    // First sample: t = -62 500 / 2 / 2E9 s; channel 1 (a sine) starts at
    // 0 V, which is code 128, i.e. 12.5 mV; channel 2 (a square) at +0.5 V,
    // code 144: 16 steps of 31.25 mV above 12.5 mV.
    const std::size_t firstLine = csv.find("\r\n") + 2;
    EXPECT_EQ(csv.substr(firstLine, csv.find("\r\n", firstLine) + 2 - firstLine),
              "-1.562500e-005;1.250000e-002;5.125000e-001\r\n");
    EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");

    // The image name is free again but the data name is not: both move on.
    ASSERT_EQ(std::remove(bench.dir.File("shot-0004.png").c_str()), 0);
    bench.controller.StartOrAbortCapture();
    EXPECT_EQ(
        FileNamesIn(bench.dir.Path()),
        (std::vector<std::string>{"shot-0004.csv", "shot-0005.csv", "shot-0005.png", "shot.png"}));
}

TEST(WaveformCaptureE2E, FailedDataSavingIsReported) {
    SimBench bench({"--instrument", "infiniivision-x"});
    ASSERT_TRUE(bench.Connect());
    auto& form = bench.window.form;
    form.saveModeIndex = 2; // "Save individually"
    form.retrieveWaveforms = true;
    form.dataFormat = DataFormat::Dirfile;
    form.tickedChannels = {"CHAN1"};
    bench.window.dialogAnswer = bench.dir.File("chosen.png");
    // A plain file where the dirfile directory would go.
    ASSERT_TRUE(WriteFileBytes(bench.dir.File("chosen"), "in the way"));
    bench.controller.StartOrAbortCapture();

    EXPECT_TRUE(PathExists(bench.dir.File("chosen.png")));
    EXPECT_EQ(ReadFileText(bench.dir.File("chosen")), "in the way");
    const std::string last = bench.window.LastStatus();
    EXPECT_NE(last.find("Error: Waveform data saving failed."), std::string::npos) << last;
    EXPECT_EQ(last.find("Waveform data saving done."), std::string::npos);
    EXPECT_FALSE(bench.controller.LastCaptureSucceeded());
}

// Each family's own way of reading (Rigol's pages, the DHO's words,
// Tektronix's definitions, R&S's floats) through the window's controller
// with "Stop instrument while capturing": the data file holds the channels
// that could be read, whole, and the status line names the one that could
// not after the usual words; the window's stop comes before the data and its
// run after it.
TEST(WaveformCaptureE2E, EachFamilyWritesWhatItCouldAndTheStatusNamesTheRest) {
    struct Family {
        std::vector<std::string> simArgs;
        const char* atInstrument; // "" nothing
        std::vector<std::string> channels;
        DataFormat format;
        const char* reason;
        std::size_t points;
        const char* written; // the CSV's header, or the dirfile's data field
        const char* stop;
        const char* data;
        const char* run;
    };
    const Family families[] = {
        {{"--instrument", "rigol", "--waveform-points", "260000"},
         ":CHANnel2:DISPlay 0",
         {"CHAN1", "CHAN2"},
         DataFormat::Csv,
         "CHAN2 is switched off.",
         260000,
         "time/s;CHAN1(voltage/V)\r\n",
         ":STOP",
         ":WAV:DATA?",
         ":RUN"},
        {{"--instrument", "rigol-dho", "--habit", "zero-xinc=2", "--waveform-points", "2000"},
         "",
         {"CHAN1", "CHAN2"},
         DataFormat::Dirfile,
         "CHAN2: the preamble gives a time increment of 0.000000e+00, no usable time axis.",
         2000,
         "CHAN1.dat",
         ":STOP",
         ":WAV:DATA?",
         ":RUN"},
        {{"--instrument", "tek-mso", "--idn", "TEKTRONIX,MSO58,B010001,CF:91.1CT FV:1.44.3.433",
          "--waveform-points", "30000"},
         "",
         {"CH1", "CH8", "MATH1"},
         DataFormat::Csv,
         "MATH1 is switched off.",
         30000,
         "time/s;CH1(voltage/V);CH8(voltage/V)\r\n",
         "ACQuire:STATE STOP",
         "CURVe?",
         "ACQuire:STATE RUN"},
        {{"--instrument", "rs-rtb", "--waveform-points", "12000"},
         "CHANnel4:STATe OFF",
         {"CHAN2", "CHAN4"},
         DataFormat::Csv,
         "CHAN4 is switched off.",
         12000,
         "time/s;CHAN2(voltage/V)\r\n",
         "STOP",
         "CHAN2:DATA?",
         "RUN"},
    };
    for (const Family& f : families) {
        SCOPED_TRACE(f.simArgs[1]);
        SimBench bench(f.simArgs);
        ASSERT_TRUE(bench.Connect()) << bench.window.LastStatus();
        if (*f.atInstrument != '\0')
            AtInstrument(bench, f.atInstrument);
        PrepareSequential(bench, f.format, f.channels);
        bench.controller.StartOrAbortCapture();

        EXPECT_TRUE(bench.controller.LastCaptureSucceeded());
        EXPECT_EQ(bench.window.LastStatus(), "Data capture finished. Screenshot saved successfully "
                                             "to " +
                                                 bench.dir.File("shot-0004.png") +
                                                 ". Waveform data saving done. " + f.reason);
        if (f.format == DataFormat::Csv) {
            const std::string csv = ReadFileText(bench.dir.File("shot-0004.csv"));
            EXPECT_EQ(csv.rfind(f.written, 0), 0u);
            EXPECT_EQ(CountLines(csv), f.points + 1);
        } else {
            EXPECT_EQ(FileNamesIn(bench.dir.File("shot-0004")),
                      (std::vector<std::string>{f.written, "format", "xaxis.dat"}));
            EXPECT_EQ(ReadFileBytes(bench.dir.File("shot-0004/") + f.written).size(),
                      f.points * sizeof(double));
        }
        const int data = bench.IndexOfReceived(f.data);
        ASSERT_GE(data, 0);
        // The window's stop; a method does not stop a stopped scope again.
        EXPECT_EQ(bench.CountReceived(f.stop), 1);
        EXPECT_LT(bench.IndexOfReceived(f.stop), data);
        EXPECT_GT(bench.IndexOfReceived(f.run, data), data);
    }
}

} // namespace quarvel::test
