// The capture's side of a data capture with a scripted driver: an instrument
// that cannot be prepared is read nothing and not ended, and one with no
// channel left is still ended. The reads in selection order, the status
// lines, the reasons for channels left out and the end after the data are
// quarvel-cli's and the controller's tests (tests/cli/cli_waveform_faults_test.cpp,
// cli_scope_waveforms_test.cpp, cli_capture_test.cpp, waveform_capture_e2e_test.cpp)
// and KeepActiveChannels' (tests/wavedata/waveform_record_test.cpp).
#include "capture/waveform_capture.h"
#include "instr/instr_ll.h"

#include <gtest/gtest.h>

namespace {

class CScriptedDriver : public CInstrLL {
public:
    bool beginResult = true;
    ChannelList offered{"CHAN1", "CHAN2", "CHAN3", "CHAN4", "POD1"};
    ChannelList active{"CHAN1", "CHAN2", "CHAN3", "POD1"};
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
};

struct StatusLog {
    std::vector<std::string> texts;
    StatusSink Sink() {
        return [this](const std::string& text) { texts.push_back(text); };
    }
};

} // namespace

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
