#include "sim/waveform_tektronix.h"

#include "sim/family_tektronix.h"
#include "sim/screen_image.h"
#include "sim/waveform_scpi_number.h"
#include "visa/ascii.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

namespace quarvel::sim {
namespace {

constexpr long long kDefaultRecordPoints = 10000;
constexpr double kXIncrement = 1.0e-7;
// Per channel: volts per code, zero and offset (codes), as a scope set to
// different scales and positions reports them.
constexpr double kYMultiplier[4] = {0.04, 0.02, 0.04, 0.08};
constexpr double kYZero[4] = {0.0, 0.1, 0.0, -0.2};
constexpr double kYOffset[4] = {10.0, -20.0, 0.0, 30.0};

struct TekWaveState {
    bool selected[4] = {true, true, true, true};
    int source = 1;
    std::string encoding = "RIBINARY";
    long long width = 1;
    long long start = 1;
    long long stop = 10000;
    long long recordPoints = kDefaultRecordPoints;
};

std::string Real(double value) {
    char text[32];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 4);
    std::string out = ec == std::errc() ? std::string(text, end) : "0";
    std::replace(out.begin(), out.end(), 'e', 'E');
    return out;
}

bool Unsigned(const TekWaveState& s) {
    return s.encoding == "RPBINARY" || s.encoding == "SRPBINARY";
}

long long FirstPoint(const TekWaveState& s) {
    return std::clamp(s.start, 1LL, s.recordPoints);
}

long long PointCount(const TekWaveState& s) {
    return std::clamp(s.stop, 1LL, s.recordPoints) - FirstPoint(s) + 1;
}

std::string Preamble(const TekWaveState& s, bool headers, bool noWaveformId) {
    const int c = s.source - 1;
    const long long points = std::max(0LL, PointCount(s));
    const double xZero = (FirstPoint(s) - 1 - s.recordPoints / 2.0) * kXIncrement;
    struct Field {
        const char* name;
        std::string value;
    };
    std::vector<Field> fields = {
        {"BYT_NR", std::to_string(s.width)},
        {"BIT_NR", std::to_string(8 * s.width)},
        {"ENCDG", "BIN"},
        {"BN_FMT", Unsigned(s) ? "RP" : "RI"},
        {"BYT_OR", "MSB"},
        {"NR_PT", std::to_string(points)},
        {"WFID", "\"Ch" + std::to_string(s.source) + ", DC coupling, " +
                     Real(25 * kYMultiplier[c]) + " V/div, " + std::to_string(points) +
                     " points, Sample mode\""},
        {"PT_FMT", "Y"},
        {"XINCR", Real(kXIncrement)},
        {"PT_OFF", "0"},
        {"XZERO", Real(xZero)},
        {"XUNIT", "\"s\""},
        {"YMULT", Real(kYMultiplier[c] / (s.width == 2 ? 256 : 1))},
        {"YZERO", Real(kYZero[c])},
        {"YOFF", Real(kYOffset[c] * (s.width == 2 ? 256 : 1))},
        {"YUNIT", "\"V\""},
    };
    std::string text = headers ? ":WFMPRE:" : "";
    bool first = true;
    for (const Field& f : fields) {
        if (noWaveformId && std::string(f.name) == "WFID")
            continue;
        text += (first ? "" : ";") + (headers ? std::string(f.name) + " " : "") + f.value;
        first = false;
    }
    return text;
}

std::string Curve(const TekWaveState& s) {
    const int c = s.source - 1;
    const long long first = FirstPoint(s);
    const long long count = PointCount(s);
    std::string data;
    data.reserve(static_cast<std::size_t>(std::max(0LL, count) * s.width));
    for (long long i = first - 1; i < first - 1 + count; ++i) {
        const double volts =
            ScreenTraceValue(c, static_cast<double>(i) / static_cast<double>(s.recordPoints));
        long long code = std::llround((volts - kYZero[c]) / kYMultiplier[c] + kYOffset[c]);
        code = std::clamp(code, -128LL, 127LL);
        if (Unsigned(s))
            code += 128;
        if (s.width == 2) {
            const long long word = code * 256;
            data += static_cast<char>((word >> 8) & 0xFF);
            data += static_cast<char>(word & 0xFF);
        } else {
            data += static_cast<char>(code & 0xFF);
        }
    }
    return data;
}

int ChannelOf(std::string_view name) {
    const std::string upper = quarvel::ascii::ToUpper(name);
    return upper.size() == 3 && upper.rfind("CH", 0) == 0 && upper[2] >= '1' && upper[2] <= '4'
               ? upper[2] - '0'
               : 0;
}

} // namespace

void AddTektronixWaveforms(TektronixSim& scope, const QuirkOptions& quirks) {
    auto s = std::make_shared<TekWaveState>();
    if (quirks.waveformPoints > 0)
        s->recordPoints = quirks.waveformPoints;
    CommandTable& t = scope.Commands();

    t.Add("SELect:CH#", [s](const CommandCall& call, CommandResult& r) {
        bool on = false;
        if (call.suffixes[0] < 1 || call.suffixes[0] > 4)
            r.Error(-113, "Undefined header");
        else if (ParseBoolParam(call, 0, r, on))
            s->selected[call.suffixes[0] - 1] = on;
    });
    t.Add("SELect:CH#?", [s](const CommandCall& call, CommandResult& r) {
        if (call.suffixes[0] < 1 || call.suffixes[0] > 4)
            r.Error(-113, "Undefined header");
        else
            r.Text(s->selected[call.suffixes[0] - 1] ? "1" : "0");
    });
    t.Add("DATa:SOUrce", [s](const CommandCall& call, CommandResult& r) {
        const int n = call.params.size() == 1 ? ChannelOf(call.params[0]) : 0;
        if (n == 0)
            r.Error(-224, "Illegal parameter value");
        else
            s->source = n;
    });
    AddChoiceSetting(t, "DATa:ENCdg", {"RIBinary", "RPBinary", "SRIbinary", "SRPbinary", "ASCIi"},
                     s->encoding);
    t.Add("DATa:WIDth",
          [s](const CommandCall& call, CommandResult& r) { ReadCount(call, r, 1, 2, s->width); });
    t.Add("DATa:STARt", [s](const CommandCall& call, CommandResult& r) {
        ReadCount(call, r, 1, 1LL << 31, s->start);
    });
    t.Add("DATa:STOP", [s](const CommandCall& call, CommandResult& r) {
        ReadCount(call, r, 1, 1LL << 31, s->stop);
    });
    t.Add("WFMPre?", [s, &scope](const CommandCall&, CommandResult& r) {
        const TektronixState& state = scope.State();
        // Sent as it is: the fields carry their own names when headers are on.
        r.Raw(Preamble(*s, state.headers, state.noWaveformId) + "\n");
        r.reply.exact = true;
    });
    t.Add("CURVe?", [s, &scope](const CommandCall&, CommandResult& r) {
        const TektronixState& state = scope.State();
        if (!s->selected[s->source - 1] || s->encoding == "ASCII") {
            r.Error(-200, "Execution error");
            r.Block({}, 1, true);
            return;
        }
        const std::string data = Curve(*s);
        const std::string length = std::to_string(data.size());
        std::string reply = state.headers ? ":CURVE " : "";
        reply += "#" + std::to_string(length.size()) + length + data;
        if (state.curveJunk)
            reply += std::string("\0\0 ;\r", 5);
        r.Raw(reply + "\n");
        r.reply.exact = true;
    });
}

} // namespace quarvel::sim
