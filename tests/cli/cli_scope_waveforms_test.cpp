// quarvel-cli capture --waveforms against each older oscilloscope persona,
// over a LAN socket and over USB (USB/IP): the values in the CSV file must
// equal what this test computes itself from the codes the simulator serves
// and the formula of the family's programming manual; the reference reads go
// through a VISA session of the test's own (waveform_cli_fixture.h). Also:
// a dirfile read back by GetData, and each family's data read stopped.

#include "tests/cli/waveform_cli_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>

namespace quarvel::test {
namespace {

// DS1000Z Programming Guide: the guides' formula (RigolReference), pages of
// 100 000 BYTE points here.
Expected DsReference(const ScopePanel& scope, const std::vector<std::string>& channels) {
    return RigolReference(scope, channels, {false, 100000});
}

// SDS1000X-E Programming Guide, WF? and its example: V = code * VDIV / 25 -
// OFST with the code a signed byte (two's complement: minus 256, where the
// guide's text says 255); t = TRDL - TDIV * 14 / 2 + i / SARA.
Expected SiglentReference(const ScopePanel& scope, const std::vector<std::string>& channels) {
    Expected e;
    scope.Send("CHDR OFF");
    for (const std::string& channel : channels) {
        const double vdiv = scope.Number(channel + ":VDIV?");
        const double offset = scope.Number(channel + ":OFST?");
        const double timebase = scope.Number("TDIV?");
        const double rate = scope.Number("SARA?");
        const double delay = scope.Number("TRDL?");
        const std::string codes = scope.Block(channel + ":WF? DAT2");
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const int code = static_cast<unsigned char>(codes[i]);
            y.push_back((code > 127 ? code - 256 : code) * vdiv / 25 - offset);
            e.x.push_back(delay - timebase * 14 / 2 + static_cast<double>(i) / rate);
        }
        e.y.push_back(y);
    }
    return e;
}

// TDS3000 Programmer Manual, CURVe? and WFMPre?: V = (code - YOFF) * YMULT +
// YZERO with the code a signed byte (RIBinary); t = XZERO + i * XINCR.
Expected TektronixReference(const ScopePanel& scope, const std::vector<std::string>& channels) {
    Expected e;
    scope.Send("HEADer 1");
    for (const std::string& channel : channels) {
        scope.Send("DATa:SOUrce " + channel);
        scope.Send("DATa:ENCdg RIBinary");
        scope.Send("DATa:WIDth 1");
        scope.Send("DATa:STARt 1");
        scope.Send("DATa:STOP 1000000");
        std::map<std::string, double> field;
        std::stringstream preamble(scope.Query("WFMPre?"));
        std::string element;
        while (std::getline(preamble, element, ';')) {
            const std::size_t space = element.find(' ');
            std::string name = element.substr(0, space);
            name.erase(0, name.rfind(':') + 1); // ":WFMPRE:BYT_NR" → "BYT_NR"
            field[name] = std::strtod(element.c_str() + space + 1, nullptr);
        }
        const std::string codes = scope.Block("CURVe?");
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const int code = static_cast<signed char>(codes[i]);
            y.push_back((code - field.at("YOFF")) * field.at("YMULT") + field.at("YZERO"));
            e.x.push_back(field.at("XZERO") + static_cast<double>(i) * field.at("XINCR"));
        }
        e.y.push_back(y);
    }
    scope.Send("HEADer 0");
    return e;
}

// Infiniium Programmer's Guide, :WAVeform:DATA? and :WAVeform:PREamble?:
// V = (code - yreference) * yincrement + yorigin with WORD codes signed
// 16-bit, least significant byte first; t = (i - xreference) * xincrement +
// xorigin.
Expected InfiniiumReference(const ScopePanel& scope, const std::vector<std::string>& channels) {
    Expected e;
    for (const std::string& channel : channels) {
        scope.Send(":WAV:SOUR " + channel);
        scope.Send(":WAV:FORM WORD");
        scope.Send(":WAV:BYT LSBF");
        const std::vector<double> p = NumberFields(scope.Query(":WAV:PRE?"));
        const std::string codes = scope.Block(":WAV:DATA?");
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i + 1 < codes.size(); i += 2) {
            const auto low = static_cast<unsigned char>(codes[i]);
            const auto high = static_cast<unsigned char>(codes[i + 1]);
            const int code = static_cast<std::int16_t>(high << 8 | low);
            y.push_back((code - p.at(9)) * p.at(7) + p.at(8));
            e.x.push_back((static_cast<double>(i / 2) - p.at(6)) * p.at(4) + p.at(5));
        }
        e.y.push_back(y);
    }
    return e;
}

struct Family {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    std::function<Expected(const ScopePanel&, const std::vector<std::string>&)> reference;
};

const Family kFamilies[] = {
    {"RigolPaged",
     {"--instrument", "rigol", "--waveform-points", "300000"},
     {"CHAN1", "CHAN3"},
     DsReference},
    // DS2000 guide's format codes, and NULs before the block's line feed.
    {"RigolHabits",
     {"--instrument", "rigol", "--rigol-swapped-format-codes", "--rigol-block-tail", "3",
      "--waveform-points", "20000"},
     {"CHAN2"},
     DsReference},
    {"Siglent", {"--instrument", "siglent"}, {"C1", "C2", "C4"}, SiglentReference},
    // Replies with headers before the transfer: CHDR is switched off for it.
    {"SiglentHeaders",
     {"--instrument", "siglent", "--siglent-reply-headers", "--waveform-points", "7000"},
     {"C3"},
     SiglentReference},
    {"Tektronix", {"--instrument", "tektronix"}, {"CH1", "CH2", "CH4"}, TektronixReference},
    // Junk after the curve, no WFId (the fields move), headers on from the start.
    {"TektronixHabits",
     {"--instrument", "tektronix", "--tektronix-curve-junk", "--tektronix-no-wfid",
      "--tektronix-headers", "--waveform-points", "2500"},
     {"CH3"},
     TektronixReference},
    {"Infiniium",
     {"--instrument", "infiniium"},
     {"CHAN1", "CHAN2", "CHAN3", "CHAN4"},
     InfiniiumReference},
};

class ScopeWaveforms : public ::testing::TestWithParam<std::tuple<Family, bool>> {};

TEST_P(ScopeWaveforms, CsvHoldsTheManualsScalingOfTheServedCodes) {
    const auto& [family, usb] = GetParam();
    SimProcess sim(family.simArgs);
    ASSERT_TRUE(sim.Started());
    ExpectCsvMatchesReference(sim, usb, family.channels, [&](const ScopePanel& scope) {
        return family.reference(scope, family.channels);
    });
}

INSTANTIATE_TEST_SUITE_P(Families, ScopeWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kFamilies), ::testing::Bool()),
                         CaseOverLink<Family>);

// A Rigol capture into a dirfile, read back by GetData: checkdirfile finds
// it conforming, and its Python binding reads every field, whose values
// (doubles in the file, printed so they read back the same) must equal what
// the test computes with the guide's formula.
TEST(ScopeWaveformDirfile, GetDataReadsTheFieldsBack) {
    SimProcess sim({"--instrument", "rigol", "--waveform-points", "20000"});
    ASSERT_TRUE(sim.Started());
    TempDir shots;
    TempDir logs;
    const CliRun run =
        RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(), "--name", "shot",
                      "--waveforms", "CHAN1,CHAN4", "--data-format", "dirfile"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string dirfile = shots.File("shot");

    int status = -1;
    const std::string check =
        CommandOutput(std::string(QUARVEL_CHECKDIRFILE) + " '" + dirfile + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << check;

    const std::string script = "import sys, pygetdata as g\n"
                               "d = g.dirfile(sys.argv[1], g.RDONLY)\n"
                               "for f in sys.argv[2:]:\n"
                               "    n = d.nframes\n"
                               "    v = d.getdata(f, g.FLOAT64, first_frame=0, num_frames=n)\n"
                               "    print(f, n, ' '.join(repr(float(x)) for x in v))\n";
    const std::string read =
        CommandOutput(std::string(QUARVEL_SYSTEM_PYTHON3) + " -c \"" + script + "\" '" + dirfile +
                          "' xaxis.dat CHAN1.dat CHAN4.dat 2>&1",
                      &status);
    ASSERT_EQ(status, 0) << read;

    const ScopePanel scope(sim.SocketResource());
    const Expected expected = DsReference(scope, {"CHAN1", "CHAN4"});
    std::stringstream lines(read);
    const std::vector<const std::vector<double>*> columns = {&expected.x, &expected.y[0],
                                                             &expected.y[1]};
    for (const std::vector<double>* column : columns) {
        std::string name;
        std::size_t frames = 0;
        lines >> name >> frames;
        ASSERT_EQ(frames, column->size()) << name;
        for (std::size_t i = 0; i < frames; ++i) {
            double value = 0.0;
            lines >> value;
            ASSERT_EQ(value, (*column)[i]) << name << " frame " << i;
        }
    }
}

// A running scope is stopped for its data (one acquisition for every
// channel; Rigol's RAW memory only while stopped) and runs again afterwards,
// a stopped one stays stopped (a Tektronix keeps its stop-after mode); a
// setting changed for the transfer is put back.
TEST(ScopeWaveformRunState, DataIsReadStoppedAndTheScopeRunsAgain) {
    struct Case {
        std::vector<std::string> simArgs;
        const char* channel;
        const char* stop;
        const char* data;
        const char* run;
        const char* restored;                       // sent after the data ("" : nothing)
        std::vector<std::string> atInstrument = {}; // sent before the capture
        bool running = true;
    };
    const Case cases[] = {
        {{"--instrument", "rigol", "--waveform-points", "5000"},
         "CHAN1",
         ":STOP",
         ":WAV:DATA?",
         ":RUN",
         ""},
        {{"--instrument", "siglent", "--siglent-reply-headers", "--waveform-points", "5000"},
         "C2",
         "TRMD STOP",
         "C2:WF? DAT2",
         "TRMD AUTO",
         "CHDR SHORT"},
        {{"--instrument", "siglent-hd", "--waveform-points", "10000", "--waveform-page", "4000"},
         "C4",
         ":TRIG:STOP",
         ":WAV:PRE?",
         ":TRIG:RUN",
         ""},
        {{"--instrument", "tektronix"},
         "CH1",
         "ACQuire:STATE 0",
         "CURVe?",
         "ACQuire:STATE 1",
         "HEADer 0"},
        {{"--instrument", "tek-mso"},
         "CH1",
         "ACQuire:STATE STOP",
         "CURVe?",
         "ACQuire:STATE RUN",
         "HEADer 0;:VERBose 0",
         {"VERBose 0"}},
        {{"--instrument", "tek-mdo"},
         "CH1",
         "ACQuire:STATE STOP",
         "CURVe?",
         "ACQuire:STATE RUN",
         "HEADer 0;:VERBose 1",
         {"ACQuire:STATE STOP"},
         false},
        {{"--instrument", "tek-tbs", "--habit", "hardcopy-delay-ms=0"},
         "CH1",
         "ACQuire:STATE STOP",
         "CURVe?",
         "ACQuire:STATE RUN",
         "HEADer 1",
         {"HEADer 1"}},
        {{"--instrument", "infiniium", "--waveform-points", "5000"},
         "CHAN2",
         ":STOP",
         ":WAV:DATA?",
         ":RUN",
         ""},
    };
    TempDir logs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.simArgs[1]);
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.Started());
        ScopePanel(sim.SocketResource()).SendAndWait(c.atInstrument);
        TempDir shots;
        sim.ClearTranscript();
        const CliRun run = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                         "--waveforms", c.channel});
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        const std::vector<std::string> received = sim.Transcript();
        const int stop = IndexOf(received, c.stop);
        const int data = IndexOf(received, c.data);
        ASSERT_GE(data, 0);
        EXPECT_EQ(stop >= 0, c.running);
        EXPECT_LT(stop, data);
        EXPECT_EQ(IndexOf(received, c.run, data) > data, c.running);
        if (*c.restored != '\0') {
            EXPECT_GT(IndexOf(received, c.restored, data), data);
        }
        EXPECT_EQ(IndexOf(received, "ACQuire:STOPAfter RUNSTop"), -1);
    }
}

} // namespace
} // namespace quarvel::test
