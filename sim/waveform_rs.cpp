#include "sim/waveform_rs.h"

#include "sim/family_rs_rtb.h"
#include "sim/screen_image.h"
#include "sim/waveform_scpi_number.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

namespace quarvel::sim {
namespace {

constexpr long long kDefaultRecordPoints = 10000;
// What DATA:POINts DEF gives, and everything while running: the samples of
// the screen's width.
constexpr long long kScreenPoints = 1000;
// At the full record the samples are 1 ns apart; the screen shows the whole
// record around the trigger.
constexpr double kSampleInterval = 1.0e-9;
constexpr double kVoltsPerDivision[] = {0.5, 1.0, 0.2, 2.0};
constexpr int kChannels = 4;
// The sample a NAN fault replaces (0-based).
constexpr long long kNanSample = 4;

enum class Fault { None, Header, Short, Nan };

struct RsWaveState {
    bool channelOn[kChannels] = {true, true, true, true};
    std::string format = "ASCII"; // FORMat[:DATA] at *RST: ASCii
    bool lsbFirst = false;
    bool memoryPoints = false; // DATA:POINts MAX or DMAX (DEF otherwise)
    long long recordPoints = kDefaultRecordPoints;
    int faultChannel = 0;
    Fault fault = Fault::None;
};

struct Axis {
    long long points = 0;
    double xStart = 0.0;
    double xIncrement = 0.0;
};

Axis AxisOf(const RsWaveState& s, bool mxo, RunState run) {
    Axis a;
    const bool record = mxo || (s.memoryPoints && run == RunState::Stop);
    a.points = record ? s.recordPoints : std::min(kScreenPoints, s.recordPoints);
    const double span = kSampleInterval * static_cast<double>(s.recordPoints);
    a.xStart = -0.5 * span;
    a.xIncrement = span / static_cast<double>(a.points);
    return a;
}

float Volts(int channel, long long i, long long points) {
    return static_cast<float>(ScreenTraceValue(channel - 1, static_cast<double>(i) / points) *
                              kVoltsPerDivision[channel - 1]);
}

bool ChannelSuffix(const CommandCall& call, CommandResult& r, int& n) {
    n = call.suffixes.empty() ? 1 : call.suffixes[0];
    if (n >= 1 && n <= kChannels)
        return true;
    r.Error(-114, "Header suffix out of range");
    return false;
}

std::string AsciiValue(float value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : "0";
}

} // namespace

void AddRsWaveforms(RsRtbSim& scope, const InstrumentSetup& setup, bool mxo) {
    auto s = std::make_shared<RsWaveState>();
    if (setup.quirks.waveformPoints > 0)
        s->recordPoints = setup.quirks.waveformPoints;
    s->lsbFirst = setup.habits.Value("byte-order") == "lsb";
    CommandTable& t = scope.Commands();

    t.Add("CHANnel#:STATe", [s](const CommandCall& call, CommandResult& r) {
        int n = 0;
        bool on = false;
        if (ChannelSuffix(call, r, n) && ParseBoolParam(call, 0, r, on))
            s->channelOn[n - 1] = on;
    });
    t.Add("CHANnel#:STATe?", [s](const CommandCall& call, CommandResult& r) {
        int n = 0;
        if (ChannelSuffix(call, r, n))
            r.Text(s->channelOn[n - 1] ? "1" : "0");
    });
    // Only the two formats the persona serves; the UINT and INT forms of
    // the real instruments are refused.
    t.Add("FORMat[:DATA]", [s](const CommandCall& call, CommandResult& r) {
        const int choice =
            call.params.empty() ? -1 : MatchChoice(call.params[0], {"ASCii", "REAL"});
        const std::string length = call.params.size() > 1 ? call.params[1] : "";
        if (choice == 0 && (length.empty() || length == "0"))
            s->format = "ASCII";
        else if (choice == 1 && (length.empty() || length == "32"))
            s->format = "REAL";
        else
            r.Error(-224, "Illegal parameter value");
    });
    t.Add("FORMat[:DATA]?", [s](const CommandCall&, CommandResult& r) {
        r.Text(s->format == "REAL" ? "REAL,32" : "ASC,0");
    });
    t.Add("FORMat:BORDer", [s](const CommandCall& call, CommandResult& r) {
        const int choice =
            call.params.size() == 1 ? MatchChoice(call.params[0], {"LSBFirst", "MSBFirst"}) : -1;
        if (choice < 0)
            r.Error(-224, "Illegal parameter value");
        else
            s->lsbFirst = choice == 0;
    });
    t.Add("FORMat:BORDer?",
          [s](const CommandCall&, CommandResult& r) { r.Text(s->lsbFirst ? "LSBF" : "MSBF"); });
    if (!mxo) {
        t.Add("CHANnel#:DATA:POINts", [s](const CommandCall& call, CommandResult& r) {
            int n = 0;
            if (!ChannelSuffix(call, r, n))
                return;
            const int choice = call.params.size() == 1
                                   ? MatchChoice(call.params[0], {"DEFault", "MAXimum", "DMAXimum"})
                                   : -1;
            if (choice < 0)
                r.Error(-224, "Illegal parameter value");
            else
                s->memoryPoints = choice > 0; // the setting holds for every channel
        });
        t.Add("CHANnel#:DATA:POINts?", [s, &scope](const CommandCall& call, CommandResult& r) {
            int n = 0;
            if (ChannelSuffix(call, r, n))
                r.Text(std::to_string(AxisOf(*s, false, scope.State().run).points));
        });
    }
    t.Add("SIMulate:FAULt", [s](const CommandCall& call, CommandResult& r) {
        const auto n = !call.params.empty() ? ParseScpiReal(call.params[0]) : std::nullopt;
        const int kind =
            call.params.size() == 2 ? MatchChoice(call.params[1], {"HEADer", "SHORt", "NAN"}) : -1;
        if (!n || *n < 0 || *n > kChannels || (*n > 0 && kind < 0)) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        s->faultChannel = static_cast<int>(*n);
        s->fault = kind < 0 ? Fault::None : static_cast<Fault>(kind + 1);
    });

    // XStart, XStop (the last sample's time), record length, values per sample.
    t.Add("CHANnel#:DATA:HEADer?", [s, &scope, mxo](const CommandCall& call, CommandResult& r) {
        int n = 0;
        if (!ChannelSuffix(call, r, n))
            return;
        if (s->faultChannel == n && s->fault == Fault::Header) {
            r.Text("HEADER?");
            return;
        }
        const Axis a = AxisOf(*s, mxo, scope.State().run);
        const double xStop = a.xStart + static_cast<double>(a.points - 1) * a.xIncrement;
        r.Text(ScpiReal(a.xStart, 3) + "," + ScpiReal(xStop, 3) + "," +
               std::to_string(s->channelOn[n - 1] ? a.points : 0) + ",1");
    });
    t.Add("CHANnel#:DATA[:VALues]?", [s, &scope, mxo](const CommandCall& call, CommandResult& r) {
        int n = 0;
        if (!ChannelSuffix(call, r, n))
            return;
        if (!s->channelOn[n - 1]) {
            r.Error(-221, "Settings conflict");
            r.Block({}, 0, true);
            return;
        }
        const Axis a = AxisOf(*s, mxo, scope.State().run);
        const bool fault = s->faultChannel == n;
        const long long count = fault && s->fault == Fault::Short ? a.points - 1 : a.points;
        const auto value = [&](long long i) {
            return fault && s->fault == Fault::Nan && i == kNanSample
                       ? std::numeric_limits<float>::quiet_NaN()
                       : Volts(n, i, a.points);
        };
        std::string data;
        if (s->format == "REAL") {
            data.resize(static_cast<std::size_t>(count) * 4);
            for (long long i = 0; i < count; ++i) {
                const std::uint32_t bits = std::bit_cast<std::uint32_t>(value(i));
                for (int b = 0; b < 4; ++b)
                    data[static_cast<std::size_t>(i * 4 + b)] =
                        static_cast<char>(bits >> (8 * (s->lsbFirst ? b : 3 - b)));
            }
            r.Block(std::move(data), 0, true);
            return;
        }
        for (long long i = 0; i < count; ++i)
            data += (i == 0 ? "" : ",") + AsciiValue(value(i));
        r.Text(std::move(data));
    });
}

} // namespace quarvel::sim
