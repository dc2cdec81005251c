// What a waveform capture through quarvel-cli does when the instrument
// cannot give a channel, for every family's way of failing: the channel is
// named with the reason, the image and the other channels are still
// written, and a capture that wrote no data exits non-zero.

#include "tests/cli/waveform_cli_fixture.h"

namespace quarvel::test {
namespace {

struct Fault {
    const char* what;
    std::vector<std::string> simArgs;
    const char* channels;
    const char* message;
    const char* written; // the channel in the data file; "": none, and a non-zero exit
    std::vector<std::string> atInstrument = {}; // sent before the capture
};

const Fault kFaults[] = {
    // The capture's own checks, the same for every family.
    {"a family without data channels",
     {"--instrument", "fsv"},
     "CHAN1",
     "CHAN1 is not offered by this instrument.\n",
     ""},
    {"a channel switched off, one unknown",
     {"--instrument", "rigol", "--waveform-points", "5000"},
     "CHAN1,CHAN3,CHAN7",
     "CHAN7 is not offered by this instrument. CHAN3 is switched off.\n",
     "CHAN1",
     {":CHAN3:DISP 0"}},
    {"a channel the four-channel model lacks, one switched off",
     {"--instrument", "tek-mso", "--idn", "TEKTRONIX,MSO54,B010001,CF:91.1CT FV:1.44.3.433"},
     "CH1,CH3,CH6",
     "CH6 is not offered by this instrument. CH3 is switched off.\n",
     "CH1",
     {"DISplay:GLObal:CH3:STATE 0"}},
    // Pages the scope cuts short.
    {"Rigol pages that bring nothing",
     {"--instrument", "rigol-dho", "--waveform-page", "100000", "--waveform-points", "300000"},
     "CHAN3",
     "CHAN3: points 1 to 250000: the page brought 0 of its 250000 points.\n",
     ""},
    {"Siglent HD pages a point short",
     {"--instrument", "siglent-hd", "--waveform-points", "10000", "--waveform-page", "4000"},
     "C4",
     "C4: points 1 to 4000: the page brought 3999 of its 4000 points.\n",
     "",
     {":SIM:DATA:SHOR 4"}},
    // Each family's parser of what the scope describes and sends (a DHO's
    // zero x increment: tests/capture/waveform_capture_e2e_test.cpp).
    {"a Rigol preamble that does not parse",
     {"--instrument", "rigol", "--waveform-points", "5000"},
     "CHAN1,CHAN2",
     "CHAN2: the preamble '0,2,1200,1,PREAMBLE?' has no number in field 5.\n",
     "CHAN1",
     {":SIMulate:PREamble:FAIL 2"}},
    {"MSO5000 memory deeper than a capture holds",
     {"--instrument", "rigol-mso5000", "--waveform-points", "100000001"},
     "CHAN1",
     "CHAN1: the preamble announces 100000001.000000 points, outside 1 to 100000000.\n",
     ""},
    {"a Siglent HD descriptor without its name",
     {"--instrument", "siglent-hd", "--waveform-points", "10000", "--waveform-page", "4000"},
     "C1,C2",
     "C2: the preamble block holds no waveform descriptor (no WAVEDESC name).\n",
     "C1",
     {":SIM:PRE:FAIL 2"}},
    {"a Tektronix curve shorter than its preamble",
     {"--instrument", "tek-mdo"},
     "CH1,CH2",
     "CH2: the curve brought 5000 of the 10000 points announced.\n",
     "CH1",
     {":SIMulate:CURVe:SHORt CH2"}},
    {"a Tektronix preamble without a readable scale",
     {"--instrument", "tek-tbs", "--habit", "hardcopy-delay-ms=0"},
     "CH1",
     "CH1: the preamble lacks a readable NR_Pt, XINcr, XZEro, YMUlt, YZEro or YOFf.\n",
     "",
     {":SIMulate:PREamble:BREak CH1"}},
    {"an R&S data header without numbers",
     {"--instrument", "rs-rtb", "--waveform-points", "2000"},
     "CHAN1,CHAN2",
     "CHAN2: the data header 'HEADER?' has no number in field 1.\n",
     "CHAN1",
     {"SIMulate:FAULt 2,HEADer"}},
    {"an R&S sample that is no number",
     {"--instrument", "rs-rtb", "--waveform-points", "2000"},
     "CHAN3,CHAN4",
     "CHAN3: sample 5 is not a finite number.\n",
     "CHAN4",
     {"SIMulate:FAULt 3,NAN"}},
    {"an R&S block shorter than its header",
     {"--instrument", "rs-rtb", "--waveform-points", "2000"},
     "CHAN1",
     "CHAN1: the data block holds 7996 bytes, not the 8000 of the 2000 samples the header "
     "announced.\n",
     "",
     {"SIMulate:FAULt 1,SHORt"}},
};

class WaveformFaults : public ::testing::TestWithParam<Fault> {};

TEST_P(WaveformFaults, TheChannelIsNamedAndTheRestWritten) {
    const Fault& f = GetParam();
    SimProcess sim(f.simArgs);
    ASSERT_TRUE(sim.Started());
    ScopePanel(sim.SocketResource()).SendAndWait(f.atInstrument);
    TempDir logs;
    TempDir shots;
    const CliRun run = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                     "--name", "shot", "--waveforms", f.channels});
    EXPECT_EQ(run.exitCode, *f.written == '\0' ? 1 : 0) << run.out << run.err;
    EXPECT_NE(run.out.find(std::string("Waveform data saving done. ") + f.message),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(PathExists(shots.File("shot.png")));
    if (*f.written == '\0') {
        EXPECT_FALSE(PathExists(shots.File("shot.csv")));
    } else {
        const std::string header = std::string("time/s;") + f.written + "(voltage/V)\r\n";
        EXPECT_EQ(ReadFileText(shots.File("shot.csv")).rfind(header, 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, WaveformFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

} // namespace
} // namespace quarvel::test
