#include "sim/waveform_infiniium.h"

#include "sim/family_infiniium.h"
#include "sim/screen_image.h"
#include "sim/waveform_scpi_number.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace quarvel::sim {
namespace {

constexpr long long kDefaultRecordPoints = 100000;
constexpr double kXIncrement = 1.0e-9;
// WORD codes: 1 V/div over 3 200 codes; BYTE codes the upper byte of those.
constexpr double kWordIncrement = 3.125e-4;
constexpr double kYOrigin[4] = {0.0, 0.1, -0.25, 0.5};

struct InfiniiumWaveState {
    bool channelOn[4] = {true, true, true, true};
    int source = 1;
    std::string format = "BYTE";
    std::string byteOrder = "MSBFIRST";
    long long recordPoints = kDefaultRecordPoints;
};

bool Word(const InfiniiumWaveState& s) {
    return s.format == "WORD";
}

double YIncrement(const InfiniiumWaveState& s) {
    return Word(s) ? kWordIncrement : kWordIncrement * 256;
}

std::string Data(const InfiniiumWaveState& s) {
    const int c = s.source - 1;
    const bool word = Word(s);
    const long long limit = word ? 32767 : 127;
    std::string data;
    data.reserve(static_cast<std::size_t>(s.recordPoints * (word ? 2 : 1)));
    for (long long i = 0; i < s.recordPoints; ++i) {
        const double volts =
            ScreenTraceValue(c, static_cast<double>(i) / static_cast<double>(s.recordPoints));
        const long long code =
            std::clamp(std::llround((volts - kYOrigin[c]) / YIncrement(s)), -limit - 1, limit);
        const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(code));
        if (!word) {
            data += static_cast<char>(bits & 0xFF);
        } else if (s.byteOrder == "LSBFIRST") {
            data += static_cast<char>(bits & 0xFF);
            data += static_cast<char>(bits >> 8);
        } else {
            data += static_cast<char>(bits >> 8);
            data += static_cast<char>(bits & 0xFF);
        }
    }
    return data;
}

} // namespace

void AddInfiniiumWaveforms(InfiniiumSim& scope, const QuirkOptions& quirks) {
    auto s = std::make_shared<InfiniiumWaveState>();
    if (quirks.waveformPoints > 0)
        s->recordPoints = quirks.waveformPoints;
    CommandTable& t = scope.Commands();

    AddChannelSwitch(t, ":CHANnel#:DISPlay", s, s->channelOn);
    AddWaveformSource(t, ":WAVeform:SOURce", s, s->source, {"CHANNEL", "CHAN"});
    AddChoiceSetting(t, ":WAVeform:FORMat", {"ASCii", "BYTE", "WORD", "BINary"}, s->format);
    AddChoiceSetting(t, ":WAVeform:BYTeorder", {"LSBFirst", "MSBFirst"}, s->byteOrder);
    t.Add(":WAVeform:PREamble?", [s](const CommandCall&, CommandResult& r) {
        const int c = s->source - 1;
        const double points = static_cast<double>(s->recordPoints);
        r.Text(std::string(Word(*s) ? "2" : "1") + ",0," + ScpiInteger(s->recordPoints) + ",1," +
               ScpiReal(kXIncrement, 2) + "," + ScpiReal(-0.5 * points * kXIncrement, 2) + ",0," +
               ScpiReal(YIncrement(*s), 2) + "," + ScpiReal(kYOrigin[c], 2) + ",0,1," +
               ScpiReal(points * kXIncrement, 2) + "," + ScpiReal(-0.5 * points * kXIncrement, 2) +
               ",8.0E+00,-4.0E+00,\"07 DEC 2026\",\"18:00:00:00\",\"DSO9254A:MY00000001\",0,100,"
               "2,1,2.5E+09,0");
    });
    t.Add(":WAVeform:DATA?", [s](const CommandCall&, CommandResult& r) {
        if (!s->channelOn[s->source - 1] || (s->format != "BYTE" && s->format != "WORD")) {
            r.Error(-222, "Data out of range");
            r.Block({}, 1, true);
            return;
        }
        r.Block(Data(*s), 0, true);
    });
}

} // namespace quarvel::sim
