#include "sim/waveform_rigol.h"

#include "sim/family_rigol.h"
#include "sim/screen_image.h"
#include "sim/waveform_scpi_number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

namespace quarvel::sim {
namespace {

constexpr double kSampleInterval = 1.0e-9;
// 1 V/div: 25 codes per division, the vertical reference at code 127; the
// DHO's 12-bit WORD codes are 16 times finer, its reference at 2048.
constexpr double kYIncrement = 0.04;
constexpr int kYReference = 127;
constexpr int kWordScale = 16;
constexpr int kWordYReference = 2048;

struct RigolWaveState {
    RigolWaveSeries series;
    bool channelOn[4] = {true, true, true, true};
    int source = 1;
    std::string mode = "NORMAL";
    std::string format = "BYTE";
    long long start = 1;
    long long stop = 1000;
    long long recordPoints = 0;
    long long pageLimit = 0;    // --waveform-page; 0: the series' limit for the format
    int unreadablePreamble = 0; // :SIMulate:PREamble:FAIL <n>
};

// Each channel sits at its own offset, so y origin differs per channel.
int YOrigin(int channel) {
    return 10 * channel - 25;
}

bool TwelveBit(const RigolWaveState& s) {
    return s.series.twelveBitWords && s.format == "WORD";
}

long long PointsOf(const RigolWaveState& s, RunState run) {
    return s.mode == "NORMAL" || run != RunState::Stop ? s.series.screenPoints : s.recordPoints;
}

double XIncrement(const RigolWaveState& s, RunState run) {
    // The screen shows the whole record, thinned out.
    return kSampleInterval * static_cast<double>(s.recordPoints) /
           static_cast<double>(PointsOf(s, run));
}

std::string Real(double value) {
    char text[32];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 6);
    return ec == std::errc() ? std::string(text, end) : "0";
}

// The guides' conversion turned round: code = V / yinc + yorigin + yref.
int Code(const RigolWaveState& s, int channel, long long i, long long points) {
    const double volts = ScreenTraceValue(channel - 1, static_cast<double>(i) / points);
    const int scale = TwelveBit(s) ? kWordScale : 1;
    const long long code = std::llround(volts / kYIncrement * scale) + YOrigin(channel) * scale +
                           (TwelveBit(s) ? kWordYReference : kYReference);
    return static_cast<int>(std::clamp(code, 0LL, TwelveBit(s) ? 4095LL : 255LL));
}

bool ReadPosition(const CommandCall& call, CommandResult& r, long long& value) {
    const auto number = call.params.size() == 1 ? ParseScpiReal(call.params[0]) : std::nullopt;
    if (!number || *number < 1 || *number > 1.0e9) {
        r.Error(-224, "Illegal parameter value");
        return false;
    }
    value = std::llround(*number);
    return true;
}

// <format>,<type>,<points>,<count>,<xincrement>,<xorigin>,<xreference>,
// <yincrement>,<yorigin>,<yreference>
std::string Preamble(const RigolWaveState& s, RunState run) {
    const long long memory = PointsOf(s, run);
    // DHO: the count of the page window (scopehal's RigolOscilloscope.cpp:
    // "DHO models return page size instead of memory depth").
    const long long points =
        s.series.preambleCountsWindow
            ? std::max(1LL, std::min(s.stop, memory) - std::min(s.start, memory) + 1)
            : memory;
    const bool word = s.format == "WORD";
    const int format = s.format == "ASCII" ? 2 : (word != s.series.swappedFormatCodes) ? 1 : 0;
    const int type = s.mode == "NORMAL" ? 0 : s.mode == "MAXIMUM" ? 1 : 2;
    const double xIncrement = s.series.zeroXIncrementChannel == s.source ? 0.0 : XIncrement(s, run);
    const double span = static_cast<double>(memory) * xIncrement;
    // Either the first point at -span/2, or the reference in the middle at 0.
    const long long xReference = s.series.xReferenceInMiddle ? memory / 2 : 0;
    const double xOrigin = -0.5 * span + static_cast<double>(xReference) * xIncrement;
    const int scale = TwelveBit(s) ? kWordScale : 1;
    return std::to_string(format) + "," + std::to_string(type) + "," + std::to_string(points) +
           ",1," + Real(xIncrement) + "," + Real(xOrigin) + "," + std::to_string(xReference) + "," +
           Real(kYIncrement / scale) + "," + std::to_string(YOrigin(s.source) * scale) + "," +
           std::to_string(TwelveBit(s) ? kWordYReference : kYReference);
}

std::string MemoryDepthText(long long points) {
    // "4.0000E+06", as the MSO5000 of scopehal issue 358 answers.
    char text[32];
    std::snprintf(text, sizeof text, "%.4E", static_cast<double>(points));
    return text;
}

} // namespace

void AddRigolWaveforms(CommandTable& t, const QuirkOptions& quirks, const RigolWaveSeries& series,
                       const RigolWaveHost& host) {
    auto s = std::make_shared<RigolWaveState>();
    s->series = series;
    s->recordPoints = quirks.waveformPoints > 0 ? quirks.waveformPoints : series.defaultPoints;
    s->stop = series.screenPoints;
    s->pageLimit = quirks.waveformPage;
    const auto run = host.run;

    AddChannelSwitch(t, ":CHANnel#:DISPlay", s, s->channelOn);
    AddWaveformSource(t, ":WAVeform:SOURce", s, s->source, {"CHANNEL", "CHAN"});
    t.Add(":WAVeform:SOURce?", [s](const CommandCall&, CommandResult& r) {
        r.Text("CHAN" + std::to_string(s->source));
    });
    AddChoiceSetting(t, ":WAVeform:MODE", {"NORMal", "MAXimum", "RAW"}, s->mode);
    AddChoiceSetting(t, ":WAVeform:FORMat", {"WORD", "BYTE", "ASCii"}, s->format);
    t.Add(":WAVeform:STARt",
          [s](const CommandCall& call, CommandResult& r) { ReadPosition(call, r, s->start); });
    t.Add(":WAVeform:STARt?",
          [s](const CommandCall&, CommandResult& r) { r.Text(std::to_string(s->start)); });
    t.Add(":WAVeform:STOP",
          [s](const CommandCall& call, CommandResult& r) { ReadPosition(call, r, s->stop); });
    t.Add(":WAVeform:STOP?",
          [s](const CommandCall&, CommandResult& r) { r.Text(std::to_string(s->stop)); });
    if (series.answersMemoryDepth)
        t.Add(":ACQuire:MDEPth?", [s](const CommandCall&, CommandResult& r) {
            r.Text(MemoryDepthText(s->recordPoints));
        });

    t.Add(":WAVeform:PREamble?", [s, run](const CommandCall&, CommandResult& r) {
        if (s->unreadablePreamble == s->source)
            r.Text("0,2,1200,1,PREAMBLE?");
        else
            r.Text(Preamble(*s, run()));
    });

    t.Add(":SIMulate:PREamble:FAIL", [s](const CommandCall& call, CommandResult& r) {
        const auto n = call.params.size() == 1 ? ParseScpiReal(call.params[0]) : std::nullopt;
        if (!n || *n < 0 || *n > 4)
            r.Error(-224, "Illegal parameter value");
        else
            s->unreadablePreamble = static_cast<int>(*n);
    });

    t.Add(":WAVeform:DATA?", [s, host](const CommandCall&, CommandResult& r) {
        const long long points = PointsOf(*s, host.run());
        const bool word = s->format == "WORD";
        const long long seriesLimit = word ? s->series.wordPage : s->series.bytePage;
        const long long limit = s->pageLimit > 0 ? s->pageLimit : seriesLimit;
        const long long first = s->start;
        const long long last = std::min(s->stop, points);
        const int tail = host.blockTail();
        const bool settled = !host.memorySettled || host.memorySettled->load();
        if (s->series.settingsResetAfterData) {
            s->mode = "NORMAL";
            s->format = "BYTE";
        }
        if (!settled) {
            // MSO5000 asked too soon after a trigger: a block header and no
            // data (scopehal pull request 696).
            r.Block({}, 9, tail == 1);
            SetBlockTail(r, tail);
            return;
        }
        if (!s->channelOn[s->source - 1] || s->format == "ASCII" || first > last ||
            (limit > 0 && last - first + 1 > limit)) {
            // An empty block: what a page the scope cannot give comes as.
            r.Error(-222, "Data out of range");
            r.Block({}, 9, tail == 1);
            SetBlockTail(r, tail);
            return;
        }
        std::string data;
        data.reserve(static_cast<std::size_t>((last - first + 1) * (word ? 2 : 1)));
        for (long long i = first - 1; i < last; ++i) {
            const int code = Code(*s, s->source, i, points);
            data += static_cast<char>(code & 0xFF);
            if (word)
                data += static_cast<char>(code >> 8); // least significant byte first
        }
        r.Block(std::move(data), 9, tail == 1);
        SetBlockTail(r, tail);
    });
}

void AddRigolWaveforms(RigolSim& scope, const QuirkOptions& quirks) {
    RigolWaveSeries series;
    series.swappedFormatCodes = quirks.rigolSwappedFormatCodes;
    AddRigolWaveforms(scope.Commands(), quirks, series,
                      {.run = [&scope] { return scope.State().run; },
                       .blockTail = [&scope] { return scope.State().blockTail; },
                       .memorySettled = nullptr});
}

} // namespace quarvel::sim
