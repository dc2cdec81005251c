// Waveform data of the Rigol MSO5000/7000/8000 and DHO800-4000 personas
// through quarvel-cli capture --waveforms, over a LAN socket and over USB
// (USB/IP): the CSV values must equal what this test computes itself from
// the codes the simulator serves, with the guides' formula (RigolReference:
// the MSO5000's whole memory in one block, the DHO's in pages of 100 000
// WORD points), read through a VISA session of the test's own (never the methods'
// conversion). The habits of both personas are switched on and off here.

#include "tests/cli/waveform_cli_fixture.h"

#include "instr/instr_connection.h"
#include "instr/instr_ll.h"

namespace quarvel::test {
namespace {

struct Persona {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    bool dho;
};

const Persona kPersonas[] = {
    // The real firmware's habits (the defaults): settings reset after each
    // read, an empty block right after a stop until *OPC?.
    {"Mso5000",
     {"--instrument", "rigol-mso5000", "--waveform-points", "30000"},
     {"CHAN1", "CHAN3"},
     false},
    {"Mso5000HabitsOff",
     {"--instrument", "rigol-mso5000", "--habit", "wav-settings-reset=off", "--habit",
      "empty-data-after-trigger=off", "--waveform-points", "4000"},
     {"CHAN2"},
     false},
    // Two pages of 250 000 points; the preamble counts the page window.
    {"Dho", {"--instrument", "rigol-dho", "--waveform-points", "260000"}, {"CHAN2", "CHAN4"}, true},
    // A DHO4000 whose preamble counts the memory and puts x reference mid-record.
    {"DhoHabits",
     {"--instrument", "rigol-dho", "--idn", "RIGOL TECHNOLOGIES,DHO4204,HDO4A000000001,00.01.03",
      "--habit", "preamble-points=depth", "--habit", "xref=middle", "--waveform-points", "7000"},
     {"CHAN1"},
     true},
};

class RigolMsoWaveforms : public ::testing::TestWithParam<std::tuple<Persona, bool>> {};

TEST_P(RigolMsoWaveforms, CsvHoldsTheGuidesScalingOfTheServedCodes) {
    const auto& [persona, usb] = GetParam();
    SimProcess sim(persona.simArgs);
    ASSERT_TRUE(sim.Started());
    ExpectCsvMatchesReference(sim, usb, persona.channels, [&](const ScopePanel& scope) {
        return RigolReference(scope, persona.channels, {persona.dho, persona.dho ? 100000 : 0});
    });
}

INSTANTIATE_TEST_SUITE_P(Personas, RigolMsoWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kPersonas), ::testing::Bool()),
                         CaseOverLink<Persona>);

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
