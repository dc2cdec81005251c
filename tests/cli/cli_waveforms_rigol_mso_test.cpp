// Waveform data of the Rigol MSO5000/7000/8000 and DHO800-4000 personas
// through quarvel-cli capture --waveforms, over a LAN socket and over USB
// (USB/IP): the CSV values must equal what this test computes itself from
// the codes the simulator serves, with the guides' formula
//   V = (code - yorigin - yreference) * yincrement
//   t = (i - xreference) * xincrement + xorigin
// read through a VISA session of the test's own (never the methods'
// conversion). The habits of both personas are switched on and off here.

#include "tests/cli/waveform_cli_fixture.h"

#include "instr/instr_connection.h"
#include "instr/instr_ll.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quarvel::test {
namespace {

// The whole memory of each channel in one block (MSO5000) or in pages of
// 100 000 WORD points (DHO: little-endian 16-bit codes, the record length
// from :ACQ:MDEP?, as the preamble counts only a page).
Expected Reference(const ScopePanel& scope, const std::vector<std::string>& channels, bool dho) {
    Expected e;
    scope.Send(":STOP");
    scope.Query("*OPC?");
    const char* format = dho ? "WORD" : "BYTE";
    for (const std::string& channel : channels) {
        scope.Send(":WAV:SOUR " + channel);
        scope.Send(":WAV:MODE RAW");
        scope.Send(std::string(":WAV:FORM ") + format);
        const std::vector<double> p = NumberFields(scope.Query(":WAV:PRE?"));
        const long points =
            std::lround(dho ? std::strtod(scope.Query(":ACQ:MDEP?").c_str(), nullptr) : p.at(2));
        const long page = dho ? 100000 : points;
        std::vector<long> codes;
        for (long first = 1; first <= points; first += page) {
            scope.Send(":WAV:STAR " + std::to_string(first));
            scope.Send(":WAV:STOP " + std::to_string(std::min(points, first + page - 1)));
            scope.Send(":WAV:MODE RAW");
            scope.Send(std::string(":WAV:FORM ") + format);
            const std::string data = scope.Block(":WAV:DATA?");
            for (std::size_t i = 0; i < data.size(); i += dho ? 2 : 1) {
                long code = static_cast<unsigned char>(data[i]);
                if (dho)
                    code |= static_cast<long>(static_cast<unsigned char>(data[i + 1])) << 8;
                codes.push_back(code);
            }
        }
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < codes.size(); ++i) {
            y.push_back((codes[i] - p.at(8) - p.at(9)) * p.at(7));
            e.x.push_back((static_cast<double>(i) - p.at(6)) * p.at(4) + p.at(5));
        }
        e.y.push_back(y);
    }
    scope.Send(":RUN");
    return e;
}

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
        return Reference(scope, persona.channels, persona.dho);
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
