#include "sim/waveform_fsv.h"

#include "sim/family_fsv.h"
#include "sim/waveform_scpi_number.h"
#include "visa/ascii.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <set>

namespace quarvel::sim {
namespace {

constexpr int kTraces = 6;
constexpr double kStartHz = 1.0e6;
constexpr double kStopHz = 3.0e9;

constexpr std::array<std::string_view, 6> kModes = {"WRITe",   "VIEW",    "AVERage",
                                                    "MAXHold", "MINHold", "BLANk"};
constexpr std::array<std::string_view, 7> kModeShort = {"WRIT", "VIEW", "AVER", "MAXH",
                                                        "MINH", "BLAN", ""};
constexpr std::array<std::string_view, 7> kDetectors = {"APEak", "NEGative", "POSitive", "SAMPle",
                                                        "RMS",   "AVERage",  "QPEak"};
constexpr std::array<std::string_view, 7> kDetectorShort = {"APE", "NEG",  "POS", "SAMP",
                                                            "RMS", "AVER", "QPE"};

struct BlockOverride {
    bool active = false;
    std::string header;
    long long dataBytes = 0;
};

struct FsvTraceState {
    std::array<bool, kTraces> shown = {true, true, false, false, false, false};
    std::array<int, kTraces> mode = {0, 2, 0, 0, 0, 0};     // index into kModes
    std::array<int, kTraces> detector = {2, 4, 2, 2, 2, 2}; // index into kDetectors
    std::string unit = "DBM";
    std::string averageType = "VIDEO";
    bool real32 = false;
    long long points = 691;
    BlockOverride levels;
    BlockOverride frequencies;
    std::set<std::string> silent;
};

int MatchIndex(std::string_view param, const auto& choices) {
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (MatchChoice(param, {choices[i]}) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Trace number from "TRACE3" (or "TRACe3"); 0 when not a trace name.
int TraceOf(std::string_view name) {
    const std::string upper = ascii::ToUpper(name);
    if ((upper.size() == 6 && upper.rfind("TRACE", 0) == 0) ||
        (upper.size() == 5 && upper.rfind("TRAC", 0) == 0)) {
        const char digit = upper.back();
        if (digit >= '1' && digit <= '0' + kTraces) {
            return digit - '0';
        }
    }
    return 0;
}

double Frequency(const FsvTraceState& s, long long i) {
    return kStartHz + (kStopHz - kStartHz) * static_cast<double>(i) /
                          static_cast<double>(std::max(1LL, s.points - 1));
}

// A noise floor with two carriers; the trace mode shifts it a little so
// the traces differ.
double Level(const FsvTraceState& s, int trace, long long i) {
    const double u = static_cast<double>(i) / static_cast<double>(std::max(1LL, s.points - 1));
    const double noise = 2.0 * std::sin(i * 12.9898 + trace) * std::cos(i * 78.233);
    const double carrier1 = -25.0 - 4000.0 * (u - 0.3) * (u - 0.3) * 100.0;
    const double carrier2 = -40.0 - 4000.0 * (u - 0.7) * (u - 0.7) * 100.0;
    const double shift = s.mode[trace - 1] == 3 ? 3.0 : s.mode[trace - 1] == 4 ? -3.0 : 0.0;
    return std::max({-90.0 + noise, carrier1, carrier2}) + shift;
}

void AppendFloat(std::string& out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int b = 0; b < 4; ++b) {
        out.push_back(static_cast<char>((bits >> (8 * b)) & 0xFF));
    }
}

// Reply for one block: the true one, or the configured override.
void BlockReply(const FsvTraceState& s, const BlockOverride& override, bool x, int trace,
                CommandResult& r) {
    if (override.active) {
        std::string data;
        for (long long i = 0; static_cast<long long>(data.size()) < override.dataBytes; ++i) {
            AppendFloat(data, x ? static_cast<float>((i + 1) * 1.0e6)
                                : static_cast<float>(-10.0 * (i + 1)));
        }
        data.resize(static_cast<std::size_t>(override.dataBytes));
        r.Raw(override.header + data + "\n");
        return;
    }
    if (!s.real32) {
        std::string text;
        for (long long i = 0; i < s.points; ++i) {
            text += (i ? "," : "") + ScpiReal(x ? Frequency(s, i) : Level(s, trace, i), 2);
        }
        r.Text(text);
        return;
    }
    std::string data;
    data.reserve(static_cast<std::size_t>(s.points) * 4);
    for (long long i = 0; i < s.points; ++i) {
        AppendFloat(data, static_cast<float>(x ? Frequency(s, i) : Level(s, trace, i)));
    }
    r.Block(data, 0, true);
}

void SetOverride(const CommandCall& call, CommandResult& r, BlockOverride& override) {
    const std::string header = call.Unquoted(0);
    if (header.empty()) {
        override = BlockOverride();
        return;
    }
    const auto count = call.params.size() == 2 ? ParseScpiReal(call.params[1]) : std::nullopt;
    if (!count || *count < 0 || *count > 1.0e8) {
        r.Error(-224, "Illegal parameter value");
        return;
    }
    override = {true, header, std::llround(*count)};
}

void UpdateShownCount(FsvSim& fsv, const FsvTraceState& s) {
    int shown = 0;
    for (bool on : s.shown) {
        shown += on ? 1 : 0;
    }
    fsv.State().traces = std::max(1, shown);
}

} // namespace

void AddFsvTraces(FsvSim& fsv) {
    auto s = std::make_shared<FsvTraceState>();
    CommandTable& t = fsv.Commands();
    UpdateShownCount(fsv, *s);

    t.Add(":DISPlay[:WINDow#]:TRACe#:MODE", [s](const CommandCall& call, CommandResult& r) {
        const int mode = call.params.size() == 1 ? MatchIndex(call.params[0], kModes) : -1;
        if (mode < 0 || call.suffixes[1] > kTraces) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        s->mode[call.suffixes[1] - 1] = mode;
    });
    t.Add(":DISPlay[:WINDow#]:TRACe#:MODE?", [s](const CommandCall& call, CommandResult& r) {
        if (s->silent.count("MODE") || call.suffixes[1] > kTraces) {
            return;
        }
        r.Text(std::string(kModeShort[s->mode[call.suffixes[1] - 1]]));
    });
    t.Add(":DISPlay[:WINDow#]:TRACe#[:STATe]",
          [&fsv, s](const CommandCall& call, CommandResult& r) {
              bool on = false;
              if (call.suffixes[1] > kTraces) {
                  r.Error(-224, "Illegal parameter value");
              } else if (ParseBoolParam(call, 0, r, on)) {
                  s->shown[call.suffixes[1] - 1] = on;
                  UpdateShownCount(fsv, *s);
              }
          });
    t.Add(":DISPlay[:WINDow#]:TRACe#[:STATe]?", [s](const CommandCall& call, CommandResult& r) {
        if (call.suffixes[1] <= kTraces) {
            r.Text(s->shown[call.suffixes[1] - 1] ? "1" : "0");
        }
    });
    t.Add("[:SENSe][:WINDow#]:DETector#[:FUNCtion]", [s](const CommandCall& call,
                                                         CommandResult& r) {
        const int detector = call.params.size() == 1 ? MatchIndex(call.params[0], kDetectors) : -1;
        if (detector < 0 || call.suffixes[1] > kTraces) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        s->detector[call.suffixes[1] - 1] = detector;
    });
    t.Add("[:SENSe][:WINDow#]:DETector#[:FUNCtion]?",
          [s](const CommandCall& call, CommandResult& r) {
              if (s->silent.count("DETECTOR") || call.suffixes[1] > kTraces) {
                  return;
              }
              r.Text(std::string(kDetectorShort[s->detector[call.suffixes[1] - 1]]));
          });
    // These queries come before the settings' own, so a lost reply can be
    // simulated; otherwise they answer as the settings do.
    t.Add(":UNIT:POWer?", [s](const CommandCall&, CommandResult& r) {
        if (!s->silent.count("UNIT")) {
            r.Text(s->unit == "AMPERE" ? "A" : s->unit);
        }
    });
    t.Add("[:SENSe]:AVERage:TYPE?", [s](const CommandCall&, CommandResult& r) {
        static constexpr std::array<std::string_view, 4> kLong = {"VIDEO", "LINEAR", "POWER",
                                                                  "LOGARITHMIC"};
        static constexpr std::array<std::string_view, 4> kShort = {"VID", "LIN", "POW", "LOG"};
        if (s->silent.count("AVERAGE")) {
            return;
        }
        for (std::size_t i = 0; i < kLong.size(); ++i) {
            if (s->averageType == kLong[i]) {
                r.Text(std::string(kShort[i]));
            }
        }
    });
    AddChoiceSetting(t, ":UNIT:POWer",
                     {"DBM", "DBPW", "WATT", "DBUV", "DBMV", "VOLT", "DBUA", "AMPere"}, s->unit);
    AddChoiceSetting(t, "[:SENSe]:AVERage:TYPE", {"VIDeo", "LINear", "POWer", "LOGarithmic"},
                     s->averageType);
    t.Add("[:SENSe]:SWEep:POINts", [s](const CommandCall& call, CommandResult& r) {
        const auto n = call.params.size() == 1 ? ParseScpiReal(call.params[0]) : std::nullopt;
        if (!n || *n < 101 || *n > 32001) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        s->points = std::llround(*n);
    });
    t.Add("[:SENSe]:SWEep:POINts?",
          [s](const CommandCall&, CommandResult& r) { r.Text(std::to_string(s->points)); });
    t.Add(":FORMat[:DATA]", [s](const CommandCall& call, CommandResult& r) {
        if (call.params.size() == 2 && MatchChoice(call.params[0], {"REAL"}) == 0 &&
            call.params[1] == "32") {
            s->real32 = true;
        } else if (call.params.size() == 1 && MatchChoice(call.params[0], {"ASCii"}) == 0) {
            s->real32 = false;
        } else {
            r.Error(-224, "Illegal parameter value");
        }
    });
    t.Add(":FORMat[:DATA]?",
          [s](const CommandCall&, CommandResult& r) { r.Text(s->real32 ? "REAL,32" : "ASC,0"); });
    t.Add(":TRACe[:DATA]:X?", [s](const CommandCall& call, CommandResult& r) {
        const int trace = call.params.size() == 1 ? TraceOf(call.params[0]) : 0;
        if (trace == 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        BlockReply(*s, s->frequencies, true, trace, r);
    });
    t.Add(":TRACe[:DATA]?", [s](const CommandCall& call, CommandResult& r) {
        const int trace = call.params.size() == 1 ? TraceOf(call.params[0]) : 0;
        if (trace == 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        BlockReply(*s, s->levels, false, trace, r);
    });
    t.Add(":SIMulate:TRACe:LEVels:BLOCk",
          [s](const CommandCall& call, CommandResult& r) { SetOverride(call, r, s->levels); });
    t.Add(":SIMulate:TRACe:X:BLOCk",
          [s](const CommandCall& call, CommandResult& r) { SetOverride(call, r, s->frequencies); });
    t.Add(":SIMulate:QUERy:SILent", [s](const CommandCall& call, CommandResult&) {
        const std::string name = ascii::ToUpper(call.Unquoted(0));
        if (name.empty()) {
            s->silent.clear();
        } else {
            s->silent.insert(name);
        }
    });
}

} // namespace quarvel::sim
