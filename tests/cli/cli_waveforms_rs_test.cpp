// quarvel-cli capture --waveforms against the Rohde & Schwarz persona
// (RTB2000, RTA4000, MXO 4 by model), over a LAN socket and over USB
// (USB/IP): the CSV must hold the values the simulator serves, which this
// test reads itself through a VISA session of its own and decodes by the
// user manuals (REAL,32 in the byte order the instrument reports; time of
// sample n = XStart + n * (XStop - XStart) / (length - 1)), never through
// the driver's conversion.

#include "tests/cli/waveform_cli_fixture.h"

#include <bit>
#include <cstdint>
#include <sstream>

namespace quarvel::test {
namespace {

// Stops the scope (MAX gives the memory only when stopped), reads each
// channel as REAL,32 in the byte order the scope reports and runs it again.
Expected Reference(const ScopePanel& scope, const std::vector<std::string>& channels, bool mxo) {
    Expected e;
    scope.Send("STOP");
    scope.Send("FORMat:DATA REAL,32");
    const bool lsbFirst = scope.Query("FORMat:BORDer?") == "LSBF";
    for (const std::string& channel : channels) {
        if (!mxo)
            scope.Send(channel + ":DATA:POINts MAX");
        std::stringstream header(scope.Query(channel + ":DATA:HEADer?"));
        double field[4] = {};
        char comma = 0;
        header >> field[0] >> comma >> field[1] >> comma >> field[2] >> comma >> field[3];
        const std::string data = scope.Block(channel + ":DATA?");
        const std::size_t length = static_cast<std::size_t>(field[2]);
        EXPECT_EQ(data.size(), 4 * length) << channel;
        e.x.clear();
        std::vector<double> y;
        for (std::size_t i = 0; i < length && 4 * i + 3 < data.size(); ++i) {
            std::uint32_t bits = 0;
            for (int b = 0; b < 4; ++b)
                bits |= std::uint32_t{static_cast<unsigned char>(data[4 * i + b])}
                        << (8 * (lsbFirst ? b : 3 - b));
            y.push_back(std::bit_cast<float>(bits));
            e.x.push_back(field[0] + static_cast<double>(i) * (field[1] - field[0]) /
                                         (static_cast<double>(length) - 1));
        }
        e.y.push_back(y);
    }
    scope.Send("FORMat:DATA ASC,0");
    scope.Send("RUN");
    return e;
}

struct Model {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    bool mxo;
    const char* powerOnByteOrder; // what FORMat:BORDer? must answer after the capture
};

const Model kModels[] = {
    // Power-on byte order MSB first, frozen remote display: the data still
    // holds the traces.
    {"Rtb2004",
     {"--instrument", "rs-rtb", "--waveform-points", "20000"},
     {"CHAN1", "CHAN3"},
     false,
     "MSBF"},
    {"Rta4004Habits",
     {"--instrument", "rs-rtb", "--idn", "Rohde&Schwarz,RTA4004,1335.7700k04/100001,1.700",
      "--habit", "byte-order=lsb", "--habit", "display-update=on", "--waveform-points", "3000"},
     {"CHAN2"},
     false,
     "LSBF"},
    {"Mxo44",
     {"--instrument", "rs-rtb", "--idn", "Rohde&Schwarz,MXO44,1335.5050k44/100001,1.3.2.0",
      "--waveform-points", "5000"},
     {"CHAN2", "CHAN4"},
     true,
     "MSBF"},
};

class RsWaveforms : public ::testing::TestWithParam<std::tuple<Model, bool>> {};

// The record is the memory's (the scope was stopped for it: running, it
// gives the 1 000 points of the screen), and the scope runs again with its
// data format and byte order as they were.
TEST_P(RsWaveforms, CsvHoldsTheServedValuesAndTheScopeIsLeftAsItWas) {
    const auto& [model, usb] = GetParam();
    SimProcess sim(model.simArgs);
    ASSERT_TRUE(sim.Started());
    ExpectCsvMatchesReference(sim, usb, model.channels, [&](const ScopePanel& scope) {
        EXPECT_EQ(scope.Query("ACQuire:STATe?"), "RUN");
        EXPECT_EQ(scope.Query("FORMat?"), "ASC,0");
        EXPECT_EQ(scope.Query("FORMat:BORDer?"), model.powerOnByteOrder);
        return Reference(scope, model.channels, model.mxo);
    });
}

INSTANTIATE_TEST_SUITE_P(Models, RsWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kModels), ::testing::Bool()),
                         CaseOverLink<Model>);

} // namespace
} // namespace quarvel::test
