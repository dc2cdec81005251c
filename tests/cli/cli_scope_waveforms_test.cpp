// quarvel-cli capture --waveforms against each oscilloscope persona, with
// its habits on and off, over a LAN socket and over USB (USB/IP): the values
// in the CSV file must equal what this test computes itself from the codes
// the simulator serves and the formula of the family's manual
// (waveform_references.h), read through a VISA session of the test's own;
// the data is read stopped and the scope left as it was. Also: a dirfile
// read back by GetData, and the MSO5000's memory read right after a stop.

#include "tests/cli/waveform_references.h"

#include "instr/instr_connection.h"
#include "instr/instr_ll.h"

#include <sstream>
#include <utility>

namespace quarvel::test {
namespace {

// How the capture must treat the scope's run state: a running scope is
// stopped for its data (one acquisition for every channel; Rigol's RAW
// memory only while stopped) and runs again afterwards, a stopped one stays
// stopped (a Tektronix keeps its stop-after mode); a setting changed for the
// transfer is put back.
struct RunState {
    const char* stop = nullptr; // nullptr: not checked
    const char* data = "";      // the first data query
    const char* run = "";
    const char* restored = ""; // sent after the data ("": nothing)
    bool running = true;       // before the capture
};

struct Persona {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    Reference reference;
    std::vector<std::string> atInstrument = {}; // sent before the capture
    RunState runState = {};
    // Queries and the replies they must get after the capture.
    std::vector<std::pair<std::string, std::string>> leftAs = {};
};

constexpr TekTransfer kTds{"WFMPre?", "RIBinary", 1, "1000000"};
constexpr TekTransfer kTekMso{"WFMOutpre?", "SRIbinary", 2};
constexpr TekTransfer kTekMdo{"WFMOutpre?", "SRIbinary", 1};
constexpr TekTransfer kTekTbs{"WFMPre?", "RIBinary", 1, "2500"};

// The R&S state a capture must leave: running, ASCII data, the byte order
// it found.
std::vector<std::pair<std::string, std::string>> RsLeftAs(const char* byteOrder) {
    return {{"ACQuire:STATe?", "RUN"}, {"FORMat?", "ASC,0"}, {"FORMat:BORDer?", byteOrder}};
}

const Persona kPersonas[] = {
    // DS1000Z guide, pages of 100 000 BYTE points.
    {"RigolPaged",
     {"--instrument", "rigol", "--waveform-points", "300000"},
     {"CHAN1", "CHAN3"},
     RigolReference({.page = 100000}),
     {},
     {":STOP", ":WAV:DATA?", ":RUN"}},
    // DS2000 guide's format codes, and NULs before the block's line feed.
    {"RigolHabits",
     {"--instrument", "rigol", "--rigol-swapped-format-codes", "--rigol-block-tail", "3",
      "--waveform-points", "20000"},
     {"CHAN2"},
     RigolReference({.page = 100000})},
    // The MSO5000 firmware's habits (the defaults): settings reset after
    // each read, an empty block right after a stop until *OPC?. Its whole
    // memory in one block.
    {"Mso5000",
     {"--instrument", "rigol-mso5000", "--waveform-points", "30000"},
     {"CHAN1", "CHAN3"},
     RigolReference({})},
    {"Mso5000HabitsOff",
     {"--instrument", "rigol-mso5000", "--habit", "wav-settings-reset=off", "--habit",
      "empty-data-after-trigger=off", "--waveform-points", "4000"},
     {"CHAN2"},
     RigolReference({})},
    // Two pages of 250 000 points; the preamble counts the page window.
    {"Dho",
     {"--instrument", "rigol-dho", "--waveform-points", "260000"},
     {"CHAN2", "CHAN4"},
     RigolReference({.word = true, .page = 100000})},
    // A DHO4000 whose preamble counts the memory and puts x reference mid-record.
    {"DhoHabits",
     {"--instrument", "rigol-dho", "--idn", "RIGOL TECHNOLOGIES,DHO4204,HDO4A000000001,00.01.03",
      "--habit", "preamble-points=depth", "--habit", "xref=middle", "--waveform-points", "7000"},
     {"CHAN1"},
     RigolReference({.word = true, .page = 100000})},
    {"Siglent", {"--instrument", "siglent"}, {"C1", "C2", "C4"}, SiglentReference()},
    // Replies with headers before the transfer: CHDR is switched off for it.
    {"SiglentHeaders",
     {"--instrument", "siglent", "--siglent-reply-headers", "--waveform-points", "7000"},
     {"C3"},
     SiglentReference(),
     {},
     {"TRMD STOP", "C3:WF? DAT2", "TRMD AUTO", "CHDR SHORT"}},
    // SDS824X HD: 12-bit words; three pages of :WAV:MAXP? points, the last
    // one shorter; channel 2 behind a 10:1 probe.
    {"SiglentHd",
     {"--instrument", "siglent-hd", "--waveform-points", "30000", "--waveform-page", "12000"},
     {"C1", "C2"},
     SiglentHdReference({.word = true}),
     {},
     {":TRIG:STOP", ":WAV:PRE?", ":TRIG:RUN"}},
    // SDS2000X HD firmware that counts points in the WORD block header.
    {"SiglentHdHeaderCountsPoints",
     {"--instrument", "siglent-hd", "--idn", "Siglent Technologies,SDS2104X HD,SDS2HA1,1.2.2.9",
      "--habit", "word-count=points", "--waveform-points", "20000", "--waveform-page", "8000"},
     {"C3", "C4"},
     SiglentHdReference({.word = true, .headerCountsPoints = true})},
    // SDS2000X Plus: 8-bit, read as signed bytes, one page.
    {"SiglentXPlus",
     {"--instrument", "siglent-hd", "--idn", "Siglent Technologies,SDS2104X Plus,SDS2PA1,1.3.9R12",
      "--waveform-points", "25000"},
     {"C1", "C4"},
     SiglentHdReference({})},
    {"Tektronix",
     {"--instrument", "tektronix"},
     {"CH1", "CH2", "CH4"},
     TektronixReference(kTds),
     {},
     {"ACQuire:STATE 0", "CURVe?", "ACQuire:STATE 1", "HEADer 0"}},
    // Junk after the curve, no WFId (the fields move), headers on from the start.
    {"TektronixHabits",
     {"--instrument", "tektronix", "--tektronix-curve-junk", "--tektronix-no-wfid",
      "--tektronix-headers", "--waveform-points", "2500"},
     {"CH3"},
     TektronixReference(kTds)},
    // An eight-channel model: CH8 is offered; MATH1 comes as floats.
    {"TekMso58",
     {"--instrument", "tek-mso", "--idn", "TEKTRONIX,MSO58,B010001,CF:91.1CT FV:1.44.3.433",
      "--waveform-points", "20000"},
     {"CH2", "CH8", "MATH1"},
     TektronixReference(kTekMso),
     {"DISplay:GLObal:MATH1:STATE 1", "VERBose 0"},
     {"ACQuire:STATE STOP", "CURVe?", "ACQuire:STATE RUN", "HEADer 0;:VERBose 0"}},
    // No WFID (the fields move), junk after the curve, short headers found.
    {"TekMsoHabits",
     {"--instrument", "tek-mso", "--habit", "wfid=off", "--habit", "curve-junk=on"},
     {"CH5", "REF1"},
     TektronixReference(kTekMso),
     {"HEADer 1", "VERBose 0", "DISplay:GLObal:REF1:STATE 1"}},
    {"TekMdo",
     {"--instrument", "tek-mdo"},
     {"CH1", "CH4", "MATH", "REF1"},
     TektronixReference(kTekMdo),
     {"SELect:MATH 1", "SELect:REF1 1"}},
    {"TekMdoHabits",
     {"--instrument", "tek-mdo", "--habit", "wfid=off", "--habit", "curve-junk=on",
      "--waveform-points", "5000"},
     {"CH3"},
     TektronixReference(kTekMdo),
     {"ACQuire:STATE STOP"},
     {"ACQuire:STATE STOP", "CURVe?", "ACQuire:STATE RUN", "HEADer 0;:VERBose 1", false}},
    {"TekTbs",
     {"--instrument", "tek-tbs", "--habit", "hardcopy-delay-ms=0"},
     {"CH1", "CH2"},
     TektronixReference(kTekTbs),
     {"HEADer 1"},
     {"ACQuire:STATE STOP", "CURVe?", "ACQuire:STATE RUN", "HEADer 1"}},
    {"TekTbsHabits",
     {"--instrument", "tek-tbs", "--idn", "TEKTRONIX,TDS 2024C,C010001,CF:91.1CT FV:v24.26",
      "--habit", "wfid=off", "--habit", "curve-junk=on", "--habit", "hardcopy-delay-ms=0"},
     {"CH3", "CH4"},
     TektronixReference(kTekTbs)},
    {"Infiniium",
     {"--instrument", "infiniium"},
     {"CHAN1", "CHAN2", "CHAN3", "CHAN4"},
     InfiniiumReference(),
     {},
     {":STOP", ":WAV:DATA?", ":RUN"}},
    // The R&S data is the memory's (the scope was stopped for it: running,
    // it gives the 1 000 points of the screen). Power-on byte order MSB
    // first, frozen remote display: the data still holds the traces.
    {"Rtb2004",
     {"--instrument", "rs-rtb", "--waveform-points", "20000"},
     {"CHAN1", "CHAN3"},
     RsReference({}),
     {},
     {},
     RsLeftAs("MSBF")},
    {"Rta4004Habits",
     {"--instrument", "rs-rtb", "--idn", "Rohde&Schwarz,RTA4004,1335.7700k04/100001,1.700",
      "--habit", "byte-order=lsb", "--habit", "display-update=on", "--waveform-points", "3000"},
     {"CHAN2"},
     RsReference({}),
     {},
     {},
     RsLeftAs("LSBF")},
    {"Mxo44",
     {"--instrument", "rs-rtb", "--idn", "Rohde&Schwarz,MXO44,1335.5050k44/100001,1.3.2.0",
      "--waveform-points", "5000"},
     {"CHAN2", "CHAN4"},
     RsReference({.mxo = true}),
     {},
     {},
     RsLeftAs("MSBF")},
};

// Position of `command` in the transcript at or after `from`, -1 when none.
int IndexOf(const std::vector<std::string>& received, const std::string& command, int from = 0) {
    for (int i = from; i < static_cast<int>(received.size()); ++i)
        if (received[i] == command)
            return i;
    return -1;
}

void ExpectReadStopped(const std::vector<std::string>& received, const RunState& r) {
    const int stop = IndexOf(received, r.stop);
    const int data = IndexOf(received, r.data);
    ASSERT_GE(data, 0);
    EXPECT_EQ(stop >= 0, r.running);
    EXPECT_LT(stop, data);
    EXPECT_EQ(IndexOf(received, r.run, data) > data, r.running);
    if (*r.restored != '\0') {
        EXPECT_GT(IndexOf(received, r.restored, data), data);
    }
    EXPECT_EQ(IndexOf(received, "ACQuire:STOPAfter RUNSTop"), -1);
}

class ScopeWaveforms : public ::testing::TestWithParam<std::tuple<Persona, bool>> {};

TEST_P(ScopeWaveforms, CsvHoldsTheManualsScalingOfTheServedCodesReadStopped) {
    const auto& [persona, usb] = GetParam();
    SimProcess sim(persona.simArgs);
    ASSERT_TRUE(sim.Started());
    ScopePanel(sim.SocketResource()).SendAndWait(persona.atInstrument);
    sim.ClearTranscript();
    ExpectCsvMatchesReference(sim, usb, persona.channels,
                              [&](const ScopePanel& scope, const std::vector<std::string>& c) {
                                  if (persona.runState.stop != nullptr)
                                      ExpectReadStopped(sim.Transcript(), persona.runState);
                                  for (const auto& [query, reply] : persona.leftAs)
                                      EXPECT_EQ(scope.Query(query), reply) << query;
                                  return persona.reference(scope, c);
                              });
}

INSTANTIATE_TEST_SUITE_P(Personas, ScopeWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kPersonas), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Usb" : "Socket");
                         });

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
    const Expected expected = RigolReference({.page = 100000})(scope, {"CHAN1", "CHAN4"});
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

// Straight after a stop the MSO5000 memory reads empty until *OPC? (the
// habit's default): the method's own wait makes the first read whole, with
// no stop of the capture's in between.
TEST(RigolMsoWaveformHabits, ReadRightAfterAStopWaitsForTheMemory) {
    SimProcess sim({"--instrument", "rigol-mso5000", "--waveform-points", "5000"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    ASSERT_TRUE(connection.Open(sim.SocketResource()));
    ASSERT_TRUE(connection.QueryIdn());
    ASSERT_TRUE(connection.CreateDriver());
    ASSERT_EQ(viPrintf(connection.GetSession(), ":STOP\n"), VI_SUCCESS);
    WaveformRecord record;
    ASSERT_TRUE(connection.GetDriver()->GetWaveformData("CHAN2", record))
        << connection.GetDriver()->WaveformFailure();
    EXPECT_EQ(record.y.size(), 5000u);
}

} // namespace
} // namespace quarvel::test
