#include "sim/waveform_siglent.h"

#include "sim/family_siglent.h"
#include "sim/screen_image.h"
#include "visa/ascii.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

namespace quarvel::sim {
namespace {

constexpr long long kDefaultRecordPoints = 140000;
constexpr double kTimebase = 1.0e-4;
constexpr double kDivisions = 14.0;
// Per channel: volts per division and offset, so the codes of each channel
// lie around a different value, negative ones included.
constexpr double kVoltsPerDivision[4] = {0.5, 1.0, 0.5, 2.0};
constexpr double kOffset[4] = {0.2, -0.5, 0.0, 1.0};
constexpr double kDelay = -2.0e-5;

struct SiglentWaveState {
    bool traceOn[4] = {true, true, true, true};
    long long recordPoints = kDefaultRecordPoints;
};

// "5.00E-01" and the unit, as the older set prints its numbers.
std::string Number(double value, int precision, const char* unit) {
    char text[40];
    auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, precision);
    std::string out = ec == std::errc() ? std::string(text, end) : "0";
    std::replace(out.begin(), out.end(), 'e', 'E');
    return out + unit;
}

// "100.00MSa/s", "-20.00us": the SI-prefixed form of the guide's examples
// (SARA? "1.00GSa/s", TRDL? "-5.000000ns").
std::string Prefixed(double value, const char* unit) {
    constexpr struct {
        double factor;
        const char* prefix;
    } kPrefixes[] = {{1e9, "G"},  {1e6, "M"},  {1e3, "k"}, {1, ""},
                     {1e-3, "m"}, {1e-6, "u"}, {1e-9, "n"}};
    for (const auto& p : kPrefixes) {
        if (std::abs(value) >= p.factor || p.factor == 1e-9) {
            char text[40];
            const auto [end, ec] = std::to_chars(text, text + sizeof text, value / p.factor,
                                                 std::chars_format::fixed, 2);
            return (ec == std::errc() ? std::string(text, end) : "0") + p.prefix + unit;
        }
    }
    return "0";
}

double SampleRate(const SiglentWaveState& s) {
    return static_cast<double>(s.recordPoints) / (kTimebase * kDivisions);
}

std::string Codes(int channel, long long points) {
    const double voltsPerCode = kVoltsPerDivision[channel - 1] / 25.0;
    std::string data(static_cast<std::size_t>(points), '\0');
    for (long long i = 0; i < points; ++i) {
        const double volts =
            ScreenTraceValue(channel - 1, static_cast<double>(i) / static_cast<double>(points));
        const long long code =
            std::clamp(std::llround((volts + kOffset[channel - 1]) / voltsPerCode), -128LL, 127LL);
        data[static_cast<std::size_t>(i)] = static_cast<char>(static_cast<signed char>(code));
    }
    return data;
}

bool ValidChannel(const CommandCall& call, CommandResult& r) {
    if (call.suffixes[0] >= 1 && call.suffixes[0] <= 4)
        return true;
    r.Error(-113, "Undefined header");
    return false;
}

} // namespace

void AddSiglentWaveforms(SiglentSim& scope, const QuirkOptions& quirks) {
    auto s = std::make_shared<SiglentWaveState>();
    if (quirks.waveformPoints > 0)
        s->recordPoints = quirks.waveformPoints;
    CommandTable& t = scope.Commands();

    for (const char* trace : {"C#:TRAce", "C#:TRA"}) {
        t.Add(trace, [s](const CommandCall& call, CommandResult& r) {
            bool on = false;
            if (ValidChannel(call, r) && ParseBoolParam(call, 0, r, on))
                s->traceOn[call.suffixes[0] - 1] = on;
        });
        t.Add(std::string(trace) + "?", [s](const CommandCall& call, CommandResult& r) {
            if (ValidChannel(call, r))
                r.Text(s->traceOn[call.suffixes[0] - 1] ? "ON" : "OFF");
        });
    }
    t.Add("C#:VDIV?", [](const CommandCall& call, CommandResult& r) {
        if (ValidChannel(call, r))
            r.Text(Number(kVoltsPerDivision[call.suffixes[0] - 1], 2, "V"));
    });
    t.Add("C#:OFST?", [](const CommandCall& call, CommandResult& r) {
        if (ValidChannel(call, r))
            r.Text(Number(kOffset[call.suffixes[0] - 1], 2, "V"));
    });
    t.Add("TDIV?", [](const CommandCall&, CommandResult& r) { r.Text(Number(kTimebase, 2, "S")); });
    t.Add("TRDL?", [](const CommandCall&, CommandResult& r) { r.Text(Prefixed(kDelay, "s")); });
    t.Add("SARA?",
          [s](const CommandCall&, CommandResult& r) { r.Text(Prefixed(SampleRate(*s), "Sa/s")); });
    // Every point from the first is all this simulation serves.
    t.Add("WFSU", [](const CommandCall&, CommandResult&) {});
    t.Add("C#:WF?", [s](const CommandCall& call, CommandResult& r) {
        if (!ValidChannel(call, r))
            return;
        const int channel = call.suffixes[0];
        if (call.params.size() != 1 || quarvel::ascii::ToUpper(call.params[0]) != "DAT2") {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        const std::string data =
            s->traceOn[channel - 1] ? Codes(channel, s->recordPoints) : std::string();
        // The header and the two line feeds, exactly so on every transport.
        std::string length = std::to_string(data.size());
        const std::string header = "#9" + std::string(9 - length.size(), '0') + length;
        r.Raw("C" + std::to_string(channel) + ":WF DAT2," + header + data + "\n\n");
        r.reply.exact = true;
    });
}

} // namespace quarvel::sim
