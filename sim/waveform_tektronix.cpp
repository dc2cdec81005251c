#include "sim/waveform_tektronix.h"

#include "sim/family_support.h"
#include "sim/screen_image.h"
#include "sim/waveform_scpi_number.h"
#include "visa/ascii.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace quarvel::sim {
namespace {

constexpr double kXIncrement = 1.0e-7;
// Per channel (cycling over four): volts per byte code, zero (volts) and
// offset (byte codes), as a scope set to different scales and positions
// reports them.
constexpr double kYMultiplier[4] = {0.04, 0.02, 0.04, 0.08};
constexpr double kYZero[4] = {0.0, 0.1, 0.0, -0.2};
constexpr double kYOffset[4] = {10.0, -20.0, 0.0, 30.0};
// MATH = CH1 + CH2 spans twice the range.
constexpr double kMathYMultiplier = 0.08;

struct Source {
    enum class Kind { Channel, Math, Reference };
    Kind kind = Kind::Channel;
    int number = 1; // CH<number>, REF<number>
};

struct TekWaveState {
    std::vector<bool> channelOn;
    bool mathOn = false;
    std::vector<bool> referenceOn;
    Source source;
    std::string encoding = "RIBINARY";
    long long width = 1;
    long long start = 1;
    long long stop = 10000;
    // Test-only faults (:SIMulate:...): the source whose preamble has no
    // readable YMULT, the source whose curve brings half its points.
    std::string brokenPreamble;
    std::string shortCurve;
};

// How one source's samples become codes.
struct Scaling {
    double yMultiplier = 0; // per code at the width sent
    double yZero = 0;
    double yOffset = 0; // codes at the width sent
    bool floats = false;
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

bool LeastSignificantFirst(const TekWaveState& s) {
    return s.encoding.starts_with("S");
}

long long RecordPoints(const TekWaveformSetup& setup) {
    return setup.recordPoints;
}

long long FirstPoint(const TekWaveformSetup& setup, const TekWaveState& s) {
    return std::clamp(s.start, 1LL, RecordPoints(setup));
}

long long PointCount(const TekWaveformSetup& setup, const TekWaveState& s) {
    return std::max(0LL, std::clamp(s.stop, 1LL, RecordPoints(setup)) - FirstPoint(setup, s) + 1);
}

// The source's value (volts) at fraction u of the record.
double SourceValue(const Source& source, double u) {
    switch (source.kind) {
    case Source::Kind::Channel:
        return ScreenTraceValue(source.number - 1, u);
    case Source::Kind::Math:
        return ScreenTraceValue(0, u) + ScreenTraceValue(1, u);
    case Source::Kind::Reference:
        return ScreenTraceValue(0, u);
    }
    return 0;
}

Scaling ScalingOf(const TekWaveformSetup& setup, const TekWaveState& s) {
    Scaling scale;
    if (s.source.kind == Source::Kind::Math && setup.floatMath) {
        scale.yMultiplier = 1;
        scale.floats = true;
        return scale;
    }
    const int c = s.source.kind == Source::Kind::Channel ? (s.source.number - 1) % 4 : 0;
    const bool math = s.source.kind == Source::Kind::Math;
    const double step = s.width == 2 ? 256.0 : 1.0;
    scale.yMultiplier = (math ? kMathYMultiplier : kYMultiplier[c]) / step;
    scale.yZero = math ? 0.0 : kYZero[c];
    scale.yOffset = (math ? 0.0 : kYOffset[c]) * step;
    if (Unsigned(s))
        scale.yOffset += s.width == 2 ? 32768 : 128;
    return scale;
}

std::string SourceLabel(const TekWaveformSetup& setup, const Source& source) {
    switch (source.kind) {
    case Source::Kind::Channel:
        return "Ch" + std::to_string(source.number);
    case Source::Kind::Math:
        return setup.mathName == "MATH" ? "Math" : "Math1";
    case Source::Kind::Reference:
        return "Ref" + std::to_string(source.number);
    }
    return {};
}

// The source's name in commands ("CH2", "MATH1", "REF1").
std::string SourceName(const TekWaveformSetup& setup, const Source& source) {
    switch (source.kind) {
    case Source::Kind::Channel:
        return "CH" + std::to_string(source.number);
    case Source::Kind::Math:
        return setup.mathName;
    case Source::Kind::Reference:
        return "REF" + std::to_string(source.number);
    }
    return {};
}

struct Field {
    const char* longName;
    const char* shortName;
    std::string value;
};

std::string Preamble(const TekWaveformSetup& setup, const TekWaveState& s, bool headers,
                     bool verbose) {
    using Layout = TekWaveformSetup::Preamble;
    const Scaling scale = ScalingOf(setup, s);
    const long long points = PointCount(setup, s);
    const long long width = scale.floats ? 4 : s.width;
    const double xZero = (FirstPoint(setup, s) - 1 - RecordPoints(setup) / 2.0) * kXIncrement;
    const std::string format = scale.floats ? "FP" : Unsigned(s) ? "RP" : "RI";
    const std::string order = LeastSignificantFirst(s) ? "LSB" : "MSB";
    const std::string id =
        "\"" + SourceLabel(setup, s.source) + ", DC coupling, " +
        Real(25 * (scale.floats ? 0.04 : scale.yMultiplier * (s.width == 2 ? 256 : 1))) +
        " V/div, " + std::to_string(points) + " points, Sample mode\"";
    const std::string multiplier =
        s.brokenPreamble == SourceName(setup, s.source) ? "\"none\"" : Real(scale.yMultiplier);
    std::vector<Field> fields;
    const auto add = [&](const char* longName, const char* shortName, std::string value) {
        if (setup.noWaveformId && std::string_view(longName) == "WFID")
            return;
        fields.push_back({longName, shortName, std::move(value)});
    };
    const bool tds = setup.preamble == Layout::WfmPre;
    add("BYT_NR", "BYT_N", std::to_string(width));
    add("BIT_NR", "BIT_N", std::to_string(8 * width));
    add("ENCDG", "ENC", tds ? "BIN" : "BINARY");
    add("BN_FMT", "BN_F", format);
    if (setup.preamble == Layout::WfmOutpreSeries)
        add("ASC_FMT", "ASC_F", "YT");
    add("BYT_OR", "BYT_O", order);
    if (tds) {
        add("NR_PT", "NR_P", std::to_string(points));
        add("WFID", "WFI", id);
        add("PT_FMT", "PT_F", "Y");
        add("XINCR", "XIN", Real(kXIncrement));
        add("PT_OFF", "PT_O", "0");
        add("XZERO", "XZE", Real(xZero));
        add("XUNIT", "XUN", "\"s\"");
        add("YMULT", "YMU", multiplier);
        add("YZERO", "YZE", Real(scale.yZero));
        add("YOFF", "YOF", Real(scale.yOffset));
        add("YUNIT", "YUN", "\"V\"");
    } else {
        add("WFID", "WFI", id);
        add("NR_PT", "NR_P", std::to_string(points));
        add("PT_FMT", "PT_F", "Y");
        add("PT_ORDER", "PT_OR", "LINEAR");
        add("XUNIT", "XUN", "\"s\"");
        add("XINCR", "XIN", Real(kXIncrement));
        add("XZERO", "XZE", Real(xZero));
        add("PT_OFF", "PT_O", "0");
        add("YUNIT", "YUN", "\"V\"");
        add("YMULT", "YMU", multiplier);
        add("YOFF", "YOF", Real(scale.yOffset));
        add("YZERO", "YZE", Real(scale.yZero));
        if (setup.preamble == Layout::WfmOutpreSeries) {
            add("DOMAIN", "DOM", "TIME");
            add("WFMTYPE", "WFMTYP", "ANALOG");
            add("CENTERFREQUENCY", "CENTERFREQ", "0.0E+0");
            add("SPAN", "SPAN", "0.0E+0");
        }
    }
    std::string text;
    if (headers)
        text = tds ? (verbose ? ":WFMPRE:" : ":WFMP:") : (verbose ? ":WFMOUTPRE:" : ":WFMO:");
    bool first = true;
    for (const Field& f : fields) {
        text += (first ? "" : ";") +
                (headers ? std::string(verbose ? f.longName : f.shortName) + " " : "") + f.value;
        first = false;
    }
    return text;
}

void AppendWord(std::string& data, std::uint32_t word, int bytes, bool lsbFirst) {
    for (int k = 0; k < bytes; ++k) {
        const int shift = 8 * (lsbFirst ? k : bytes - 1 - k);
        data += static_cast<char>((word >> shift) & 0xFF);
    }
}

std::string Curve(const TekWaveformSetup& setup, const TekWaveState& s) {
    const Scaling scale = ScalingOf(setup, s);
    const long long first = FirstPoint(setup, s);
    const long long count = PointCount(setup, s);
    const bool lsbFirst = LeastSignificantFirst(s);
    std::string data;
    data.reserve(static_cast<std::size_t>(count * (scale.floats ? 4 : s.width)));
    for (long long i = first - 1; i < first - 1 + count; ++i) {
        const double volts = SourceValue(s.source, static_cast<double>(i) /
                                                       static_cast<double>(RecordPoints(setup)));
        if (scale.floats) {
            AppendWord(data, std::bit_cast<std::uint32_t>(static_cast<float>(volts)), 4, lsbFirst);
            continue;
        }
        long long code = 0;
        if (s.width == 2 && setup.sampleBits == 8) {
            // One byte of data a point: the word is the byte times 256.
            const long long byte = std::llround((volts - scale.yZero) / (scale.yMultiplier * 256) +
                                                (scale.yOffset - (Unsigned(s) ? 32768 : 0)) / 256);
            code = std::clamp(byte, -128LL, 127LL) * 256;
        } else {
            const long long limit = s.width == 2 ? 32767 : 127;
            const double bias = Unsigned(s) ? (s.width == 2 ? 32768 : 128) : 0;
            code = std::clamp(
                std::llround((volts - scale.yZero) / scale.yMultiplier + scale.yOffset - bias),
                -limit - 1, limit);
        }
        if (Unsigned(s))
            code += s.width == 2 ? 32768 : 128;
        AppendWord(data, static_cast<std::uint32_t>(code), static_cast<int>(s.width), lsbFirst);
    }
    return data;
}

// "CH3", "MATH", "MATH1", "REF2" as the setup has them; false otherwise.
bool ParseSource(const TekWaveformSetup& setup, std::string_view name, Source& out) {
    const std::string upper = quarvel::ascii::ToUpper(name);
    const auto number = [&](std::string_view prefix, int limit) {
        if (!upper.starts_with(prefix) || upper.size() != prefix.size() + 1)
            return 0;
        const int n = upper.back() - '0';
        return n >= 1 && n <= limit ? n : 0;
    };
    if (const int n = number("CH", setup.analogChannels); n > 0) {
        out = {Source::Kind::Channel, n};
        return true;
    }
    if (const int n = number("REF", setup.references); n > 0) {
        out = {Source::Kind::Reference, n};
        return true;
    }
    if (!setup.mathName.empty() && (upper == "MATH" || upper == "MATH1")) {
        out = {Source::Kind::Math, 1};
        return true;
    }
    return false;
}

bool IsOn(const TekWaveState& s, const Source& source) {
    switch (source.kind) {
    case Source::Kind::Channel:
        return s.channelOn[source.number - 1];
    case Source::Kind::Math:
        return s.mathOn;
    case Source::Kind::Reference:
        return s.referenceOn[source.number - 1];
    }
    return false;
}

void SetOn(TekWaveState& s, const Source& source, bool on) {
    switch (source.kind) {
    case Source::Kind::Channel:
        s.channelOn[source.number - 1] = on;
        break;
    case Source::Kind::Math:
        s.mathOn = on;
        break;
    case Source::Kind::Reference:
        s.referenceOn[source.number - 1] = on;
        break;
    }
}

// The source a state command names: "SELect:CH2" or "DISplay:GLObal:MATH1:STATE".
bool SourceOfHeader(const TekWaveformSetup& setup, const CommandCall& call, Source& out) {
    std::string header = quarvel::ascii::ToUpper(call.header);
    if (header.ends_with("?"))
        header.pop_back();
    if (header.ends_with(":STATE"))
        header.resize(header.size() - 6);
    return ParseSource(setup, header.substr(header.rfind(':') + 1), out);
}

} // namespace

void AddTektronixWaveforms(CommandTable& t, const TekWaveformSetup& setup) {
    auto s = std::make_shared<TekWaveState>();
    s->channelOn.assign(setup.analogChannels, true);
    s->referenceOn.assign(setup.references, false);
    s->stop = setup.recordPoints;

    const auto setState = [setup, s](const CommandCall& call, CommandResult& r) {
        Source source;
        bool on = false;
        if (!SourceOfHeader(setup, call, source))
            r.Error(-113, "Undefined header");
        else if (ParseBoolParam(call, 0, r, on))
            SetOn(*s, source, on);
    };
    const auto queryState = [setup, s](const CommandCall& call, CommandResult& r) {
        Source source;
        if (!SourceOfHeader(setup, call, source))
            r.Error(-113, "Undefined header");
        else
            r.Text(IsOn(*s, source) ? "1" : "0");
    };
    // Sources that are on: 4/5/6 Series DISplay:GLObal:<source>:STATE, the
    // other models SELect:<source>.
    // MATH is a node of its own where the model has one math source (SELect:MATH
    // answers ":SELECT:MATH 1" with headers on), MATH<x> where it has several.
    const char* math = setup.mathName == "MATH" ? "MATH" : "MATH#";
    for (const char* kind : {"CH#", math, "REF#"}) {
        const std::string pattern = setup.displayGlobal
                                        ? std::string("DISplay:GLObal:") + kind + ":STATE"
                                        : std::string("SELect:") + kind;
        t.Add(pattern, setState);
        t.Add(pattern + "?", queryState);
    }
    if (setup.recordLengthQuery) {
        t.Add("HORizontal:RECOrdlength?", [setup](const CommandCall&, CommandResult& r) {
            r.Text(std::to_string(setup.recordPoints));
        });
    }
    t.Add("DATa:SOUrce", [setup, s](const CommandCall& call, CommandResult& r) {
        Source source;
        if (call.params.size() != 1 || !ParseSource(setup, call.params[0], source))
            r.Error(-224, "Illegal parameter value");
        else
            s->source = source;
    });
    AddChoiceSetting(t, "DATa:ENCdg", {"RIBinary", "RPBinary", "SRIbinary", "SRPbinary", "ASCIi"},
                     s->encoding);
    t.Add("DATa:WIDth",
          [s](const CommandCall& call, CommandResult& r) { ReadCount(call, r, 1, 2, s->width); });
    t.Add("DATa:STARt", [s](const CommandCall& call, CommandResult& r) {
        ReadCount(call, r, 1, 1LL << 31, s->start);
    });
    t.Add("DATa:STOP", [setup, s](const CommandCall& call, CommandResult& r) {
        ReadCount(call, r, 1, setup.maxStop, s->stop);
    });
    const bool tds = setup.preamble == TekWaveformSetup::Preamble::WfmPre;
    t.Add(tds ? "WFMPre?" : "WFMOutpre?", [setup, s](const CommandCall&, CommandResult& r) {
        const bool verbose = !setup.verbose || setup.verbose();
        // Sent as it is: the fields carry their own names when headers are on.
        r.Raw(Preamble(setup, *s, setup.headers(), verbose) + "\n");
        r.reply.exact = true;
    });
    t.Add("CURVe?", [setup, s](const CommandCall&, CommandResult& r) {
        if (!IsOn(*s, s->source) || s->encoding == "ASCII") {
            r.Error(-200, "Execution error");
            r.Block({}, 1, true);
            return;
        }
        std::string data = Curve(setup, *s);
        if (s->shortCurve == SourceName(setup, s->source))
            data.resize(data.size() / 2);
        const std::string length = std::to_string(data.size());
        const bool verbose = !setup.verbose || setup.verbose();
        std::string reply = setup.headers() ? (verbose ? ":CURVE " : ":CURV ") : "";
        reply += "#" + std::to_string(length.size()) + length + data;
        if (setup.curveJunk)
            reply += std::string("\0\0 ;\r", 5);
        r.Raw(reply + "\n");
        r.reply.exact = true;
    });
    // Test-only: replies real instruments give rarely.
    t.Add(":SIMulate:PREamble:BREak", [s](const CommandCall& call, CommandResult&) {
        s->brokenPreamble = quarvel::ascii::ToUpper(call.argumentText);
    });
    t.Add(":SIMulate:CURVe:SHORt", [s](const CommandCall& call, CommandResult&) {
        s->shortCurve = quarvel::ascii::ToUpper(call.argumentText);
    });
}

} // namespace quarvel::sim
