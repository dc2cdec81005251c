#include "sim/waveform_infiniivision.h"

#include "sim/family_infiniivision.h"
#include "sim/waveform_scpi_number.h"
#include "visa/ascii.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace quarvel::sim {
namespace {

constexpr long long kMaxRecordPoints = 8000000;
// What a running scope offers in RAW mode, and NORMal mode always: the
// screen record.
constexpr long long kScreenPoints = 62500;
constexpr double kSampleRate = 2.0e9;
// Scaling of channel codes (the values a real scope reports at 1 V/div).
constexpr double kByteIncrement = 3.125e-2;
constexpr double kYOrigin = 1.25e-2;
constexpr int kByteReference = 128;
constexpr int kWordReference = 32768;

struct ScopeWaveState {
    bool channelOn[4] = {true, true, true, true};
    bool podOn[2] = {true, true};
    double timebaseRange = 1.0e-3;
    std::string acquireType = "NORMAL";
    std::string pointsMode = "NORMAL";
    std::string byteOrder = "MSBFIRST";
    std::string format = "BYTE";
    long long requestedPoints = 1000;
    std::string source = "CHAN1";
    long long recordPoints = kScreenPoints;
    long long claimedPoints = 0;
    std::string srateReply;
    std::string statusFail;
};

// "CHAN2", "channel2", "POD1" → "CHAN2", "POD1"; "" when not a source name.
std::string CanonicalSource(std::string_view name) {
    std::string upper = ascii::ToUpper(name);
    std::string stem;
    if (upper.rfind("CHANNEL", 0) == 0) {
        stem = "CHAN";
        upper.erase(0, 7);
    } else if (upper.rfind("CHAN", 0) == 0) {
        stem = "CHAN";
        upper.erase(0, 4);
    } else if (upper.rfind("POD", 0) == 0) {
        stem = "POD";
        upper.erase(0, 3);
    } else {
        return {};
    }
    if (upper.size() != 1 || upper[0] < '1' || upper[0] > '4') {
        return {};
    }
    return stem + upper;
}

// The display switch of a source, or null when the model lacks it.
bool* DisplaySwitch(ScopeWaveState& s, const InfiniiVisionState& scope, const std::string& source) {
    if (source.empty()) {
        return nullptr;
    }
    const int n = source.back() - '0';
    if (source.rfind("CHAN", 0) == 0) {
        return n <= scope.channels ? &s.channelOn[n - 1] : nullptr;
    }
    const bool hasPods = scope.model.rfind("MSO", 0) == 0;
    return hasPods && n <= 2 ? &s.podOn[n - 1] : nullptr;
}

// The acquisition record: all of it once stopped, the screen record while
// running.
long long AcquiredPoints(const ScopeWaveState& s, const InfiniiVisionState& scope) {
    return scope.run == RunState::Run ? std::min(s.recordPoints, kScreenPoints) : s.recordPoints;
}

// What a waveform transfer can give: NORMal mode gives the screen record.
long long AvailablePoints(const ScopeWaveState& s, const InfiniiVisionState& scope) {
    const long long acquired = AcquiredPoints(s, scope);
    return s.pointsMode == "NORMAL" ? std::min(acquired, kScreenPoints) : acquired;
}

long long TransferPoints(const ScopeWaveState& s, const InfiniiVisionState& scope) {
    const long long available = AvailablePoints(s, scope);
    return s.requestedPoints <= 0 ? available : std::min(s.requestedPoints, available);
}

int TypeCode(const std::string& type) {
    return type == "PEAK" ? 1 : type == "AVERAGE" ? 2 : type == "HRESOLUTION" ? 3 : 0;
}

// The signal of an analog channel at fraction u of the record, in volts.
double ChannelVolts(int channel, double u) {
    constexpr double pi = std::numbers::pi;
    switch (channel) {
    case 1:
        return std::sin(2 * pi * 5 * u);
    case 2:
        return std::fmod(u * 3, 1.0) < 0.5 ? 0.5 : -0.5;
    case 3:
        return 0.8 * std::sin(2 * pi * 2 * u + 1.0);
    default:
        return 2.0 * std::abs(std::fmod(u * 4, 1.0) - 0.5) - 0.5;
    }
}

struct Scaling {
    double increment;
    double origin;
    int reference;
};

Scaling ScalingOf(const std::string& source, bool word) {
    if (source.rfind("POD", 0) == 0) {
        return {1.0, 0.0, 0};
    }
    return word ? Scaling{kByteIncrement / 256, kYOrigin, kWordReference}
                : Scaling{kByteIncrement, kYOrigin, kByteReference};
}

std::string WaveformBytes(const ScopeWaveState& s, long long points) {
    const bool word = s.format == "WORD";
    const bool lsbFirst = s.byteOrder == "LSBFIRST";
    const Scaling scaling = ScalingOf(s.source, word);
    const bool pod = s.source.rfind("POD", 0) == 0;
    const int number = s.source.back() - '0';
    const long long maxCode = word ? 65535 : 255;
    std::string data(static_cast<std::size_t>(points) * (word ? 2 : 1), '\0');
    for (long long i = 0; i < points; ++i) {
        long long code;
        if (pod) {
            // A counter: POD1 carries the low byte, POD2 the next one.
            code = (i >> (8 * (number - 1))) & 0xFF;
        } else {
            const double volts = ChannelVolts(number, static_cast<double>(i) / points);
            code = std::llround((volts - scaling.origin) / scaling.increment) + scaling.reference;
            code = std::clamp(code, 0LL, maxCode);
        }
        if (word) {
            const char low = static_cast<char>(code & 0xFF);
            const char high = static_cast<char>(code >> 8);
            data[2 * i] = lsbFirst ? low : high;
            data[2 * i + 1] = lsbFirst ? high : low;
        } else {
            data[i] = static_cast<char>(code);
        }
    }
    return data;
}

void AddDisplaySwitches(CommandTable& t, InfiniiVisionSim& scope,
                        const std::shared_ptr<ScopeWaveState>& s) {
    for (const char* stem : {"CHAN", "POD"}) {
        const std::string node = stem == std::string("CHAN") ? ":CHANnel#" : ":POD#";
        t.Add(node + ":DISPlay", [&scope, s, stem](const CommandCall& call, CommandResult& r) {
            bool* on = DisplaySwitch(*s, scope.State(), stem + std::to_string(call.suffixes[0]));
            bool value = false;
            if (on == nullptr) {
                r.Error(-113, "Undefined header");
            } else if (ParseBoolParam(call, 0, r, value)) {
                *on = value;
            }
        });
        t.Add(node + ":DISPlay?", [&scope, s, stem](const CommandCall& call, CommandResult& r) {
            bool* on = DisplaySwitch(*s, scope.State(), stem + std::to_string(call.suffixes[0]));
            if (on == nullptr) {
                r.Error(-113, "Undefined header");
            } else {
                r.Text(*on ? "1" : "0");
            }
        });
    }
    t.Add(":STATus?", [&scope, s](const CommandCall& call, CommandResult& r) {
        const std::string source = call.params.size() == 1 ? CanonicalSource(call.params[0]) : "";
        bool* on = DisplaySwitch(*s, scope.State(), source);
        if (on == nullptr) {
            r.Error(-224, "Illegal parameter value");
        } else if (!s->statusFail.empty() && source == s->statusFail) {
            r.Text("STATUS?");
        } else {
            r.Text(*on ? "1" : "0");
        }
    });
}

void AddAcquisition(CommandTable& t, InfiniiVisionSim& scope,
                    const std::shared_ptr<ScopeWaveState>& s) {
    t.Add(":TIMebase:RANGe", [s](const CommandCall& call, CommandResult& r) {
        const auto value = call.params.size() == 1 ? ParseScpiReal(call.params[0]) : std::nullopt;
        if (!value || *value < 1e-9 || *value > 500.0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        s->timebaseRange = *value;
    });
    t.Add(":TIMebase:RANGe?",
          [s](const CommandCall&, CommandResult& r) { r.Text(ScpiReal(s->timebaseRange, 2)); });
    t.Add(":ACQuire:POINts?", [&scope, s](const CommandCall&, CommandResult& r) {
        r.Text(ScpiInteger(AcquiredPoints(*s, scope.State())));
    });
    t.Add(":ACQuire:SRATe?", [s](const CommandCall&, CommandResult& r) {
        r.Text(s->srateReply.empty() ? ScpiReal(kSampleRate, 2) : s->srateReply);
    });
    AddChoiceSetting(t, ":ACQuire:TYPE", {"NORMal", "AVERage", "HRESolution", "PEAK"},
                     s->acquireType);
}

void AddWaveformTransfer(CommandTable& t, InfiniiVisionSim& scope,
                         const std::shared_ptr<ScopeWaveState>& s) {
    AddChoiceSetting(t, ":WAVeform:POINts:MODE", {"NORMal", "MAXimum", "RAW"}, s->pointsMode);
    AddChoiceSetting(t, ":WAVeform:BYTeorder", {"LSBFirst", "MSBFirst"}, s->byteOrder);
    AddChoiceSetting(t, ":WAVeform:FORMat", {"WORD", "BYTE"}, s->format);
    t.Add(":WAVeform:POINts", [s](const CommandCall& call, CommandResult& r) {
        ReadCount(call, r, 0, 1LL << 32, s->requestedPoints);
    });
    t.Add(":WAVeform:POINts?", [&scope, s](const CommandCall&, CommandResult& r) {
        r.Text(ScpiInteger(TransferPoints(*s, scope.State())));
    });
    t.Add(":WAVeform:SOURce", [&scope, s](const CommandCall& call, CommandResult& r) {
        const std::string source = call.params.size() == 1 ? CanonicalSource(call.params[0]) : "";
        if (DisplaySwitch(*s, scope.State(), source) == nullptr) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        s->source = source;
    });
    t.Add(":WAVeform:SOURce?", [s](const CommandCall&, CommandResult& r) { r.Text(s->source); });
    t.Add(":WAVeform:PREamble?", [&scope, s](const CommandCall&, CommandResult& r) {
        const long long points = TransferPoints(*s, scope.State());
        const long long claimed = s->claimedPoints > 0 ? s->claimedPoints : points;
        const bool word = s->format == "WORD";
        const Scaling scaling = ScalingOf(s->source, word);
        r.Text(ScpiInteger(word ? 1 : 0) + "," + ScpiInteger(TypeCode(s->acquireType)) + "," +
               ScpiInteger(claimed) + ",+1," + ScpiReal(1.0 / kSampleRate, 3) + "," +
               ScpiReal(-0.5 * static_cast<double>(points) / kSampleRate, 3) + ",+0," +
               ScpiReal(scaling.increment, 3) + "," + ScpiReal(scaling.origin, 3) + "," +
               ScpiInteger(scaling.reference));
    });
    t.Add(":WAVeform:DATA?", [&scope, s](const CommandCall&, CommandResult& r) {
        bool* on = DisplaySwitch(*s, scope.State(), s->source);
        if (on == nullptr || !*on) {
            // A source that is switched off has no data.
            r.Error(-222, "Data out of range");
            r.Block({}, 1, true);
            return;
        }
        r.Block(WaveformBytes(*s, TransferPoints(*s, scope.State())), 8, true);
    });
}

void AddSimulationControls(CommandTable& t, const std::shared_ptr<ScopeWaveState>& s) {
    t.Add(":SIMulate:WAVeform:POINts", [s](const CommandCall& call, CommandResult& r) {
        ReadCount(call, r, 1, kMaxRecordPoints, s->recordPoints);
    });
    t.Add(":SIMulate:PREamble:POINts", [s](const CommandCall& call, CommandResult& r) {
        ReadCount(call, r, 0, 4294967295LL, s->claimedPoints);
    });
    t.Add(":SIMulate:SRATe:REPLy",
          [s](const CommandCall& call, CommandResult&) { s->srateReply = call.Unquoted(0); });
    t.Add(":SIMulate:STATus:FAIL", [s](const CommandCall& call, CommandResult&) {
        s->statusFail = CanonicalSource(call.Unquoted(0));
    });
}

} // namespace

void AddInfiniiVisionWaveforms(InfiniiVisionSim& scope) {
    auto state = std::make_shared<ScopeWaveState>();
    CommandTable& t = scope.Commands();
    AddDisplaySwitches(t, scope, state);
    AddAcquisition(t, scope, state);
    AddWaveformTransfer(t, scope, state);
    AddSimulationControls(t, state);
}

} // namespace quarvel::sim
