// The capture's side of a data capture with a scripted driver: which driver
// operations run, in which order, and what reaches the status line. What is
// written, and what a capture says when no channel is offered, are the
// controller's and quarvel-cli's tests (waveform_capture_e2e_test.cpp,
// tests/cli/cli_waveform_faults_test.cpp).
#include "capture/waveform_capture.h"
#include "instr/instr_ll.h"

#include <gtest/gtest.h>

#include <set>

namespace {

class CScriptedDriver : public CInstrLL {
public:
    bool beginResult = true;
    ChannelList offered{"CHAN1", "CHAN2", "CHAN3", "CHAN4", "POD1"};
    ChannelList active{"CHAN1", "CHAN2", "CHAN3", "POD1"};
    std::set<std::string> failing;
    std::vector<std::string> calls;

    bool BeginDataCapture() override {
        calls.push_back("Begin");
        return beginResult;
    }
    bool EndDataCapture() override {
        calls.push_back("End");
        return false; // ignored by the caller
    }
    void GetChannelList(ChannelList& out) override { out = offered; }
    void GetActiveChannels(ChannelList& out) override {
        calls.push_back("Active");
        out = active;
    }
    bool GetWaveformData(const std::string& channel, WaveformRecord& out) override {
        calls.push_back("Get " + channel);
        if (failing.count(channel)) {
            m_waveformFailure = "the preamble does not parse";
            return false;
        }
        out.name = channel;
        out.xLabel = "time/s";
        out.yLabel = "voltage/V";
        out.Resize(2);
        out.x = {0.0, 1.0};
        out.y = {0.5, -0.5};
        return true;
    }
};

struct StatusLog {
    std::vector<std::string> texts;
    StatusSink Sink() {
        return [this](const std::string& text) { texts.push_back(text); };
    }
};

} // namespace

TEST(CaptureWaveforms, ReadsShownChannelsInSelectionOrder) {
    CScriptedDriver driver;
    driver.failing = {"CHAN3"};
    StatusLog status;
    WaveformRecordList records(3); // from an earlier capture
    const std::string problems = CaptureWaveforms(
        driver, {"POD1", "CHAN4", "CHAN3", "CHAN9", "CHAN1"}, records, status.Sink());

    EXPECT_EQ(driver.calls, (std::vector<std::string>{"Begin", "Active", "Get POD1", "Get CHAN3",
                                                      "Get CHAN1", "End"}));
    EXPECT_EQ(status.texts,
              (std::vector<std::string>{"Getting waveform data for channel POD1...",
                                        "Getting waveform data for channel CHAN3...",
                                        "Getting waveform data for channel CHAN1..."}));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "POD1");
    EXPECT_EQ(records[1].name, "CHAN1");
    // Every channel left out is named with its reason.
    EXPECT_EQ(problems, "CHAN9 is not offered by this instrument. CHAN4 is switched off. "
                        "CHAN3: the preamble does not parse.");
}

TEST(CaptureWaveforms, FailedBeginReadsNothingAndDoesNotEndButNoChannelLeftStillEnds) {
    CScriptedDriver driver;
    driver.beginResult = false;
    StatusLog status;
    WaveformRecordList records(2);
    EXPECT_NE(CaptureWaveforms(driver, {"CHAN1"}, records, status.Sink()), "");
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"Begin"}));
    EXPECT_TRUE(records.empty());
    EXPECT_TRUE(status.texts.empty());

    CScriptedDriver empty;
    empty.active = {};
    CaptureWaveforms(empty, {"CHAN1", "CHAN2"}, records, {});
    EXPECT_EQ(empty.calls, (std::vector<std::string>{"Begin", "Active", "End"}));
}
