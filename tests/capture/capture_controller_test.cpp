// The capture controller end to end: the fake window, quarvel-sim over real
// sockets, real files.
#include "tests/capture/sim_bench.h"

#include "capture/file_naming.h"
#include "capture/image_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

namespace quarvel::test {
namespace {

const std::string kFinished = "Data capture finished. ";

std::string Saved(const std::string& path) {
    return kFinished + "Screenshot saved successfully to " + path + ". ";
}

int CountOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

// A bench connected to an InfiniiVision, the family most cases need.
class InfiniiVisionCapture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bench.Connect()) << bench.sim.Output(); }
    SimBench bench{{"--instrument", "infiniivision-x"}};
};

TEST(CaptureConnect, UnknownInstrumentIsWarnedAboutAndNotKept) {
    SimBench bench({"--instrument", "generic"});
    ASSERT_TRUE(bench.sim.Started());
    EXPECT_FALSE(bench.Connect());
    // A warning (its words: quarvel-cli's CliUserDefinitionMissing test).
    ASSERT_EQ(bench.window.messages.size(), 1u);
    EXPECT_EQ(bench.window.messages[0].icon, MessageIcon::Warning);
    EXPECT_FALSE(bench.controller.IsConnected());
    // Without a driver, requests do nothing.
    const auto statusCount = bench.window.statusTexts.size();
    bench.controller.CaptureNow();
    bench.controller.StopRequest();
    EXPECT_EQ(bench.window.statusTexts.size(), statusCount);
    EXPECT_FALSE(bench.controller.HasPicture());
}

TEST(CaptureConnect, FailedIdentificationLeavesTheFormDisconnectedUntilTheNextRequest) {
    SimBench bench({"--instrument", "rigol", "--drop-mid-reply", "--fault-on", "*IDN?"});
    ASSERT_TRUE(bench.sim.Started());
    EXPECT_FALSE(bench.Connect());
    ASSERT_EQ(bench.window.messages.size(), 1u);
    EXPECT_EQ(bench.window.messages[0].text.rfind("*IDN? query failed: the connection ended", 0),
              0u)
        << bench.window.messages[0].text;
    EXPECT_NE(bench.window.messages[0].text.find("(link lost)."), std::string::npos);
    EXPECT_EQ(bench.window.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(bench.window.statusTexts.empty());
    EXPECT_FALSE(bench.window.form.connected);
    // Open without a driver: Capture does nothing, the next request disconnects.
    bench.window.form.captureDelay = 2;
    bench.controller.StartOrAbortCapture();
    EXPECT_FALSE(bench.controller.IsCountdownRunning());
    EXPECT_TRUE(bench.window.statusTexts.empty());
    bench.controller.ToggleConnection();
    EXPECT_EQ(bench.window.LastStatus(), "Instrument disconnected");
    EXPECT_FALSE(bench.controller.IsConnected());
}

TEST_F(InfiniiVisionCapture, SequentialNumbersFilesLogsCommentsAndShowsThePicture) {
    auto& form = bench.window.form;
    form.comments = "first capture";
    bench.controller.StartOrAbortCapture();
    EXPECT_EQ(bench.window.LastStatus(), Saved(bench.dir.File("Screenshot.png")));
    EXPECT_EQ(form.sequenceText, "0001");
    EXPECT_EQ(bench.window.shownPicture, &bench.controller.Picture());
    EXPECT_EQ(form.lastComments, "first capture");

    form.comments = "second";
    bench.controller.StartOrAbortCapture();
    EXPECT_EQ(bench.window.LastStatus(), Saved(bench.dir.File("Screenshot-0001.png")));
    form.comments = "";
    bench.controller.StartOrAbortCapture();
    EXPECT_EQ(bench.window.LastStatus(), Saved(bench.dir.File("Screenshot-0002.png")));
    EXPECT_EQ(form.sequenceText, "0002");

    // Two entries: the third capture had no comments (the identification in
    // an entry: quarvel-cli capture --save-idn's test).
    const std::string log = ReadFileText(bench.dir.File("Comments.txt"));
    EXPECT_EQ(CountOf(log, "* File name: "), 2);
    EXPECT_NE(log.find("* File name: Screenshot-0001.png\r\n"), std::string::npos);
    EXPECT_NE(log.find("first capture\r\n"), std::string::npos);
    EXPECT_EQ(FileNamesIn(bench.dir.Path()),
              (std::vector<std::string>{"Comments.txt", "Screenshot-0001.png",
                                        "Screenshot-0002.png", "Screenshot.png"}));
}

TEST(CaptureSequential, FsvScreenIsRescaledForDisplayAndFiles) {
    SimBench bench({"--instrument", "fsv"});
    ASSERT_TRUE(bench.Connect());
    bench.controller.CaptureNow();
    EXPECT_EQ(bench.window.LastStatus(), Saved(bench.dir.File("Screenshot.png")));
    EXPECT_EQ(bench.controller.Picture().size(), QSize(800, 600));
    const QImage saved = ReadPicture(bench.dir.File("Screenshot.png"));
    EXPECT_EQ(saved.size(), QSize(800, 600));
    const QImage reference = bench.ReferencePicture(QSize(800, 600));
    EXPECT_TRUE(SimilarPictures(saved, reference));

    // The other two modes take the rescaled picture as well.
    bench.window.form.saveModeIndex = 1;
    bench.controller.CaptureNow();
    EXPECT_EQ(bench.window.clipboardImage.size(), QSize(800, 600));
    bench.window.form.saveModeIndex = 2;
    bench.window.dialogAnswer = bench.dir.File("fsv.bmp");
    bench.controller.CaptureNow();
    EXPECT_EQ(bench.window.LastStatus(), Saved(bench.dir.File("fsv.bmp")));
    EXPECT_TRUE(SimilarPictures(ReadPicture(bench.dir.File("fsv.bmp")), reference));
}

// Stopped before the image and restarted after it when the option is on and
// the instrument runs: instrument_habits_test.cpp, per family.
TEST_F(InfiniiVisionCapture, StopsAndRestartsOnlyWhenAskedAndRunning) {
    auto& form = bench.window.form;
    form.saveModeIndex = 1;

    // Option off: neither stopped nor restarted.
    bench.controller.CaptureNow();
    EXPECT_EQ(bench.CountReceived(":STOP"), 0);
    EXPECT_EQ(bench.CountReceived(":RUN"), 0);

    // Option on, instrument already stopped: it stays stopped.
    form.stopWhileCapturing = true;
    bench.controller.StopRequest();
    bench.sim.ClearTranscript();
    bench.controller.CaptureNow();
    EXPECT_EQ(bench.CountReceived(":RUN"), 0);
    EXPECT_GE(bench.IndexOfReceived(":DISPLAY:DATA? PNG, COLOR"), 0);
}

TEST_F(InfiniiVisionCapture, InvalidSpecifierFailsTheSaveInBothModesButShowsTheNewPicture) {
    bench.window.form.baseName = "x%q";
    bench.window.dialogAnswer = bench.dir.File("bad%q.png");
    for (const int mode : {SAVE_MODE_SEQUENTIAL, SAVE_MODE_INDIVIDUAL}) {
        bench.window.form.saveModeIndex = mode;
        bench.window.messages.clear();
        bench.window.shownPicture = nullptr;
        bench.controller.CaptureNow();
        ASSERT_EQ(bench.window.messages.size(), 1u) << mode;
        EXPECT_EQ(bench.window.messages[0].text, "Invalid date formatting specifiers in filename");
        EXPECT_EQ(bench.window.LastStatus(), kFinished + "Error: Screenshot capture failed. ");
        EXPECT_EQ(bench.window.shownPicture, &bench.controller.Picture());
    }
    EXPECT_TRUE(FileNamesIn(bench.dir.Path()).empty());
}

TEST_F(InfiniiVisionCapture, UnwritableOrOverlongTargetFailsTheSaveAndKeepsTheComments) {
    auto& form = bench.window.form;
    form.comments = "keep me";
    for (const std::string& dir :
         {bench.dir.File("missing"), bench.dir.Path() + "/" + std::string(300, 'd')}) {
        form.imageDir = dir;
        bench.window.messages.clear();
        bench.controller.CaptureNow();
        ASSERT_EQ(bench.window.messages.size(), 1u);
        EXPECT_EQ(bench.window.messages[0].text, "Saving failed");
        EXPECT_EQ(bench.window.LastStatus(), kFinished + "Error: Saving failed. ");
        EXPECT_EQ(form.comments, "keep me");
    }
    EXPECT_TRUE(FileNamesIn(bench.dir.Path()).empty());
}

TEST_F(InfiniiVisionCapture, SequentialWithNoFreeNumberWritesAndOverwritesNothing) {
    // The search gives up as it would at SEQUENTIAL_SEARCH_LIMIT, with fewer files.
    constexpr std::uint32_t kLimit = 20;
    bench.controller.SetSequentialSearchLimit(kLimit);
    auto& form = bench.window.form;
    form.comments = "never logged";
    ASSERT_TRUE(WriteFileBytes(bench.dir.File("Screenshot.png"), "old"));
    for (std::uint32_t n = 1; n <= kLimit; ++n)
        ASSERT_TRUE(WriteFileBytes(bench.dir.File("Screenshot-" + FormatSequenceNumber(n) + ".png"),
                                   "old " + std::to_string(n)));
    bench.controller.CaptureNow();
    ASSERT_EQ(bench.window.messages.size(), 1u);
    EXPECT_EQ(bench.window.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(bench.window.LastStatus(),
              kFinished + "Error: No free sequence number for the file name; nothing saved. ");
    EXPECT_FALSE(bench.controller.LastCaptureSucceeded());
    EXPECT_EQ(ReadFileText(bench.dir.File("Screenshot.png")), "old");
    for (std::uint32_t n = 1; n <= kLimit; ++n)
        EXPECT_EQ(ReadFileText(bench.dir.File("Screenshot-" + FormatSequenceNumber(n) + ".png")),
                  "old " + std::to_string(n));
    EXPECT_EQ(FileNamesIn(bench.dir.Path()).size(), kLimit + 1);
    EXPECT_EQ(form.comments, "never logged");
}

TEST_F(InfiniiVisionCapture, ClipboardGetsThePictureReadsTheDataButWritesNoFileOrSaysItFailed) {
    auto& form = bench.window.form;
    form.saveModeIndex = 1;
    form.comments = "not logged";
    form.retrieveWaveforms = true;
    form.dataFormat = DataFormat::Csv;
    form.tickedChannels = {"CHAN2"};
    bench.controller.StartOrAbortCapture();
    EXPECT_EQ(bench.window.LastStatus(),
              kFinished + "Screen capture successfully copied to clipboard. ");
    EXPECT_EQ(bench.window.clipboardImage, bench.controller.Picture());
    EXPECT_EQ(bench.controller.Waveforms().size(), 1u);
    EXPECT_GE(bench.IndexOfReceived(":WAVEFORM:DATA?"), 0);
    const auto& texts = bench.window.statusTexts;
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "Saving waveform data..."), texts.end());
    EXPECT_TRUE(FileNamesIn(bench.dir.Path()).empty());

    bench.window.clipboardAccepts = false;
    bench.controller.CaptureNow();
    EXPECT_EQ(bench.window.LastStatus(), kFinished + "Clipboard copy failed. ");
    ASSERT_EQ(bench.window.messages.size(), 1u);
    EXPECT_EQ(bench.window.messages[0].icon, MessageIcon::None);
    // The menu's Copy shows the same box but no status.
    EXPECT_FALSE(bench.controller.CopyPictureToClipboard());
}

TEST_F(InfiniiVisionCapture, IndividualDialogNameIsExpandedAndDataNameFollowsIt) {
    auto& window = bench.window;
    window.form.saveModeIndex = 2;
    window.form.imageFormatIndex = 3;
    window.form.comments = "individual";
    window.dialogAnswer = bench.dir.File("report %Y.a.png");
    bench.controller.CaptureNow();

    ASSERT_EQ(window.dialogRequests.size(), 1u);
    const SaveDialogRequest& request = window.dialogRequests[0];
    EXPECT_EQ(request.defaultExtension, "png");
    EXPECT_EQ(request.initialPath, bench.dir.File("Screenshot"));
    EXPECT_EQ(request.initialFilterIndex, 4);
    ASSERT_GT(request.encoders.size(), 3u);
    EXPECT_EQ(request.encoders[3].extensions, AvailableEncoders()[3].extensions);

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string expected =
        bench.dir.File("report " + std::to_string(1900 + local.tm_year) + ".png");
    EXPECT_EQ(window.LastStatus(), Saved(expected));
    EXPECT_TRUE(PathExists(expected));
    EXPECT_NE(ReadFileText(bench.dir.File("Comments.txt")).find("* File name: report "),
              std::string::npos);

    window.dialogCancels = true;
    bench.controller.CaptureNow();
    EXPECT_EQ(window.LastStatus(), kFinished + "Screenshot saving cancelled by user. ");
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(InfiniiVisionCapture, SaveAsKeepsTheChosenNameAsItStandsAndAlwaysLogs) {
    auto& window = bench.window;
    window.form.saveModeIndex = 1;
    bench.controller.CaptureNow();
    ASSERT_TRUE(bench.controller.HasPicture());

    const std::string chosen = bench.dir.File("odd %q 100%.b.png");
    window.dialogAnswer = chosen;
    bench.controller.SaveCurrentImageAs();
    EXPECT_EQ(window.LastStatus(), "Screenshot saved successfully to " + chosen + ".");
    EXPECT_TRUE(SimilarPictures(ReadPicture(chosen), bench.controller.Picture()));
    const std::string log = ReadFileText(bench.dir.File("Comments.txt"));
    EXPECT_NE(log.find("* File name: odd %q 100%.b.png\r\n"), std::string::npos);
    EXPECT_NE(log.find("* Comments:\r\n\r\n"), std::string::npos);
    EXPECT_EQ(window.form.dirHistory.front(), bench.dir.Path());

    window.dialogCancels = true;
    bench.controller.SaveCurrentImageAs();
    EXPECT_EQ(window.LastStatus(), "Screenshot saving cancelled by user.");

    window.dialogCancels = false;
    window.dialogAnswer = bench.dir.File("shot.unknownformat");
    bench.controller.SaveCurrentImageAs();
    EXPECT_EQ(window.LastStatus(), "Error: Saving screenshot failed.");
    EXPECT_EQ(window.messages.back().text, "Saving screenshot failed");
    EXPECT_FALSE(PathExists(bench.dir.File("shot.unknownformat")));
}

// Connects the bench's controller to another simulator.
void Reconnect(SimBench& bench, const SimProcess& other) {
    bench.controller.ToggleConnection();
    bench.window.form.visaAddress = other.SocketResource();
    ASSERT_TRUE(bench.Connect());
}

// A failed screenshot keeps the previous picture; an undecodable one
// empties it.
TEST_F(InfiniiVisionCapture, FailedScreenshotKeepsThePictureAndAnUndecodableOneEmptiesIt) {
    bench.window.form.saveModeIndex = 1;
    bench.controller.CaptureNow();
    ASSERT_TRUE(bench.controller.HasPicture());
    const QImage previous = bench.controller.Picture().copy();
    const int shown = bench.window.showPictureCalls;

    SimProcess failing(
        {"--instrument", "infiniivision-x", "--garbage", "--fault-on", ":DISPlay:DATA?"});
    ASSERT_TRUE(failing.Started());
    Reconnect(bench, failing);
    bench.window.form.saveModeIndex = 0;
    bench.controller.CaptureNow();
    EXPECT_EQ(bench.window.LastStatus().rfind(kFinished + "Error: Screenshot capture failed: ", 0),
              0u)
        << bench.window.LastStatus();
    EXPECT_TRUE(bench.controller.HasPicture());
    EXPECT_EQ(bench.controller.Picture(), previous);
    EXPECT_EQ(bench.window.showPictureCalls, shown);
    EXPECT_FALSE(bench.controller.LastCaptureSucceeded());
    EXPECT_TRUE(FileNamesIn(bench.dir.Path()).empty());

    // The Tektronix image comes as raw bytes, so garbage reaches the decoder.
    SimProcess garbled({"--instrument", "tektronix", "--garbage", "--fault-on", "HARDcopy"});
    ASSERT_TRUE(garbled.Started());
    Reconnect(bench, garbled);
    bench.controller.CaptureNow();
    EXPECT_EQ(bench.window.LastStatus(),
              kFinished + "Error: Screenshot image load error 80004005. ");
    EXPECT_FALSE(bench.controller.HasPicture());
    EXPECT_EQ(bench.window.shownPicture, nullptr);
    EXPECT_TRUE(FileNamesIn(bench.dir.Path()).empty());
}

const std::string kCaptured =
    "Data capture finished. Screen capture successfully copied to clipboard. ";

// The timed capture, with the fake window's timer driven by hand.
class Countdown : public InfiniiVisionCapture {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(InfiniiVisionCapture::SetUp());
        bench.window.form.saveModeIndex = 1; // clipboard: no files needed
        bench.window.statusTexts.clear();
    }
    int Captures() const { return bench.window.clipboardCalls; }
};

TEST_F(Countdown, CountsDownThenCapturesTheChannelsTickedAtThePress) {
    bench.window.form.captureDelay = 3;
    bench.window.form.tickedChannels = {"CHAN1", "CHAN3"};
    bench.controller.StartOrAbortCapture();
    EXPECT_EQ(bench.window.form.captureButtonCaption, "Abort");
    // Changing the box or the ticks while counting has no effect.
    bench.window.form.captureDelay = 100;
    bench.window.form.tickedChannels = {"CHAN2"};
    bench.controller.OnCountdownTick();
    bench.controller.OnCountdownTick();
    EXPECT_EQ(Captures(), 0);
    EXPECT_EQ(bench.window.statusTexts,
              (std::vector<std::string>{"Capture delay, 3 seconds remaining",
                                        "Capture delay, 2 seconds remaining",
                                        "Capture delay, 1 seconds remaining"}));
    bench.controller.OnCountdownTick();
    EXPECT_EQ(Captures(), 1);
    EXPECT_EQ(bench.window.statusTexts.at(3), "Getting screenshot...");
    EXPECT_EQ(bench.window.LastStatus(), kCaptured);
    EXPECT_FALSE(bench.window.timerRunning);
    EXPECT_EQ(bench.window.form.captureButtonCaption, "Capture screenshot");
    EXPECT_EQ(bench.window.form.CopySelectedChannels(),
              (std::vector<std::string>{"CHAN1", "CHAN3"}));
    // A late tick after the end does nothing.
    bench.controller.OnCountdownTick();
    EXPECT_EQ(Captures(), 1);
}

TEST_F(Countdown, DisconnectEndsTheCountdown) {
    bench.window.form.captureDelay = 2;
    bench.controller.StartOrAbortCapture();
    bench.controller.ToggleConnection();
    EXPECT_EQ(bench.window.LastStatus(), "Instrument disconnected");
    EXPECT_FALSE(bench.controller.IsCountdownRunning());
    for (int i = 0; i < 3; ++i)
        bench.controller.OnCountdownTick();
    EXPECT_EQ(Captures(), 0);
    EXPECT_EQ(bench.window.LastStatus(), "Instrument disconnected");
    // Capture without a driver: FailedIdentificationLeavesTheFormDisconnectedUntilTheNextRequest.
}
} // namespace
} // namespace quarvel::test
