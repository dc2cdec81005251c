// Each way a capture can fail gives its own reason after the text the
// window always showed: a link lost mid-transfer, a reply that is no image, a
// command the instrument refused, a waveform channel that does not answer.
// The raised transfer timeout is put back on every one of these paths.
// quarvel-cli capture runs this controller; nothing at the address:
// tests/cli/cli_failure_reasons_test.cpp.

#include "tests/capture/sim_bench.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

struct Case {
    const char* name;
    std::vector<std::string> simArgs;
    // The start of the status line after the capture, and words it must hold.
    std::string statusStart;
    std::vector<std::string> words;
};

class CaptureFailureReason : public ::testing::TestWithParam<Case> {};

ViUInt32 SessionTimeout(SimBench& bench) {
    ViUInt32 ms = 0;
    viGetAttribute(bench.controller.Connection().GetSession(), VI_ATTR_TMO_VALUE, &ms);
    return ms;
}

TEST_P(CaptureFailureReason, StatusLineSaysWhy) {
    const Case& c = GetParam();
    SimBench bench(c.simArgs);
    ASSERT_TRUE(bench.sim.Started());
    ASSERT_TRUE(bench.Connect()) << bench.window.LastStatus();
    CInstrLL* driver = bench.controller.Connection().GetDriver();
    driver->SetTransferTimeout(500);
    ASSERT_EQ(viSetAttribute(bench.controller.Connection().GetSession(), VI_ATTR_TMO_VALUE, 700),
              VI_SUCCESS);
    bench.window.form.retrieveWaveforms = c.words[0].rfind("CHAN1: ", 0) == 0;
    bench.window.form.tickedChannels = {"CHAN1"};
    bench.window.form.selectedChannels = {"CHAN1"};
    bench.controller.CaptureNow();
    const std::string status = bench.window.LastStatus();
    EXPECT_EQ(status.rfind("Data capture finished. " + c.statusStart, 0), 0u) << status;
    for (const std::string& word : c.words)
        EXPECT_NE(status.find(word), std::string::npos) << word << "\n" << status;
    // The raised transfer timeout is back (unless the link is gone).
    if (SessionTimeout(bench) != 0) {
        EXPECT_EQ(SessionTimeout(bench), 700u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CaptureFailureReason,
    ::testing::Values(
        // An image that never comes: DriverFaults' stalled image (tests/instr)
        // and quarvel-cli's IdentificationTimeout give its words.
        Case{"LinkLost",
             {"--instrument", "rigol", "--drop-mid-reply", "--fault-on", ":DISPlay:DATA?"},
             "Error: Screenshot capture failed: the connection ended after ",
             {"(link lost)."}},
        Case{"NotAnImage",
             {"--instrument", "rigol", "--garbage", "--fault-on", ":DISPlay:DATA?"},
             "Error: Screenshot capture failed: ",
             {"(not an image)."}},
        // The generic instrument does not know the Rigol's image query: it
        // answers nothing and queues -113, which SYST:ERR? then tells.
        Case{"CommandRefused",
             {"--instrument", "generic", "--idn", "RIGOL TECHNOLOGIES,DS1054Z,X,1"},
             "Error: Screenshot capture failed: the instrument refused ':DISP:DATA?': -113,",
             {"Undefined header", "(command refused)."}},
        // The Siglent family asks the event status register instead.
        Case{"CommandRefusedByEsr",
             {"--instrument", "generic", "--idn",
              "Siglent Technologies,SDS1104X-E,SDSMMEBQ000000,8.2.6.1.37R9"},
             "Error: Screenshot capture failed: the instrument refused 'SCDP': *ESR? ",
             {"(command error)", "(command refused)."}},
        Case{"WaveformPreambleTimeout",
             {"--instrument", "infiniivision", "--delay-ms", "4000", "--fault-on",
              ":WAVeform:PREamble?"},
             "Screenshot saved successfully",
             {"CHAN1: the instrument sent nothing for ",
              "after ':WAVEFORM:PREAMBLE?' while reading the preamble of CHAN1 (timeout)."}},
        // The data read runs under the raised transfer timeout, put back after.
        Case{"WaveformDataTimeout",
             {"--instrument", "infiniivision", "--delay-ms", "4000", "--fault-on",
              ":WAVeform:DATA?"},
             "Screenshot saved successfully",
             {"CHAN1: the instrument sent nothing for ",
              "after ':WAVEFORM:DATA?' while reading the data of CHAN1 (timeout)."}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quarvel::test
