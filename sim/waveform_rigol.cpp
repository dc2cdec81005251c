#include "sim/waveform_rigol.h"

#include "sim/family_rigol.h"
#include "sim/screen_image.h"
#include "sim/waveform_scpi_number.h"
#include "visa/ascii.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

namespace quarvel::sim {
namespace {

constexpr long long kDefaultRecordPoints = 300000;
// NORMal mode, and any mode while running: the 1 200 points of the screen.
constexpr long long kScreenPoints = 1200;
// DS1000Z programming guide, :WAVeform:DATA?: at most 250 000 points per
// read in BYTE format, 125 000 in WORD.
constexpr long long kBytePage = 250000;
constexpr long long kWordPage = 125000;
constexpr double kSampleInterval = 1.0e-9;
// 1 V/div: 25 codes per division, the vertical reference at code 127.
constexpr double kYIncrement = 0.04;
constexpr int kYReference = 127;

struct RigolWaveState {
    bool channelOn[4] = {true, true, true, true};
    int source = 1;
    std::string mode = "NORMAL";
    std::string format = "BYTE";
    long long start = 1;
    long long stop = kScreenPoints;
    long long recordPoints = kDefaultRecordPoints;
    long long pageLimit = 0; // 0: the guide's limit for the format
    bool swappedFormatCodes = false;
    int unreadablePreamble = 0; // :SIMulate:PREamble:FAIL <n>
};

// Each channel sits at its own offset, so y origin differs per channel.
int YOrigin(int channel) {
    return 10 * channel - 25;
}

long long PointsOf(const RigolWaveState& s, RunState run) {
    return s.mode == "NORMAL" || run != RunState::Stop ? kScreenPoints : s.recordPoints;
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

int Code(int channel, long long i, long long points) {
    const double volts = ScreenTraceValue(channel - 1, static_cast<double>(i) / points);
    const long long code = std::llround(volts / kYIncrement) + YOrigin(channel) + kYReference;
    return static_cast<int>(std::clamp(code, 0LL, 255LL));
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

int ChannelOf(std::string_view name) {
    const std::string upper = quarvel::ascii::ToUpper(name);
    for (const char* stem : {"CHANNEL", "CHAN"}) {
        const std::string_view s(stem);
        if (upper.size() == s.size() + 1 && upper.compare(0, s.size(), s) == 0 &&
            upper.back() >= '1' && upper.back() <= '4')
            return upper.back() - '0';
    }
    return 0;
}

void AddBlockTail(CommandResult& r, int blockTail) {
    if (blockTail == 1)
        return;
    r.reply.exact = true;
    if (blockTail > 1)
        r.reply.trailer = std::string(static_cast<std::size_t>(blockTail - 1), '\0') + "\n";
}

} // namespace

void AddRigolWaveforms(RigolSim& scope, const QuirkOptions& quirks) {
    auto s = std::make_shared<RigolWaveState>();
    if (quirks.waveformPoints > 0)
        s->recordPoints = quirks.waveformPoints;
    s->pageLimit = quirks.waveformPage;
    s->swappedFormatCodes = quirks.rigolSwappedFormatCodes;
    CommandTable& t = scope.Commands();

    t.Add(":CHANnel#:DISPlay", [s](const CommandCall& call, CommandResult& r) {
        const int n = call.suffixes[0];
        bool on = false;
        if (n < 1 || n > 4)
            r.Error(-113, "Undefined header");
        else if (ParseBoolParam(call, 0, r, on))
            s->channelOn[n - 1] = on;
    });
    t.Add(":CHANnel#:DISPlay?", [s](const CommandCall& call, CommandResult& r) {
        const int n = call.suffixes[0];
        if (n < 1 || n > 4)
            r.Error(-113, "Undefined header");
        else
            r.Text(s->channelOn[n - 1] ? "1" : "0");
    });
    t.Add(":WAVeform:SOURce", [s](const CommandCall& call, CommandResult& r) {
        const int n = call.params.size() == 1 ? ChannelOf(call.params[0]) : 0;
        if (n == 0)
            r.Error(-224, "Illegal parameter value");
        else
            s->source = n;
    });
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

    // <format>,<type>,<points>,<count>,<xincrement>,<xorigin>,<xreference>,
    // <yincrement>,<yorigin>,<yreference>
    t.Add(":WAVeform:PREamble?", [s, &scope](const CommandCall&, CommandResult& r) {
        if (s->unreadablePreamble == s->source) {
            r.Text("0,2,1200,1,PREAMBLE?");
            return;
        }
        const RunState run = scope.State().run;
        const long long points = PointsOf(*s, run);
        const bool word = s->format == "WORD";
        const int format = s->format == "ASCII" ? 2 : (word != s->swappedFormatCodes) ? 1 : 0;
        const int type = s->mode == "NORMAL" ? 0 : s->mode == "MAXIMUM" ? 1 : 2;
        const double xIncrement = XIncrement(*s, run);
        r.Text(std::to_string(format) + "," + std::to_string(type) + "," + std::to_string(points) +
               ",1," + Real(xIncrement) + "," +
               Real(-0.5 * static_cast<double>(points) * xIncrement) + ",0," + Real(kYIncrement) +
               "," + std::to_string(YOrigin(s->source)) + "," + std::to_string(kYReference));
    });

    t.Add(":SIMulate:PREamble:FAIL", [s](const CommandCall& call, CommandResult& r) {
        const auto n = call.params.size() == 1 ? ParseScpiReal(call.params[0]) : std::nullopt;
        if (!n || *n < 0 || *n > 4)
            r.Error(-224, "Illegal parameter value");
        else
            s->unreadablePreamble = static_cast<int>(*n);
    });

    t.Add(":WAVeform:DATA?", [s, &scope](const CommandCall&, CommandResult& r) {
        const long long points = PointsOf(*s, scope.State().run);
        const bool word = s->format == "WORD";
        const long long limit = s->pageLimit > 0 ? s->pageLimit : word ? kWordPage : kBytePage;
        const long long first = s->start;
        const long long last = std::min(s->stop, points);
        const int tail = scope.State().blockTail;
        if (!s->channelOn[s->source - 1] || s->format == "ASCII" || first > last ||
            last - first + 1 > limit) {
            // An empty block: what a page the scope cannot give comes as.
            r.Error(-222, "Data out of range");
            r.Block({}, 9, tail == 1);
            AddBlockTail(r, tail);
            return;
        }
        std::string data;
        data.reserve(static_cast<std::size_t>((last - first + 1) * (word ? 2 : 1)));
        for (long long i = first - 1; i < last; ++i) {
            const char code = static_cast<char>(Code(s->source, i, points));
            data += code;
            if (word)
                data += '\0';
        }
        r.Block(std::move(data), 9, tail == 1);
        AddBlockTail(r, tail);
    });
}

} // namespace quarvel::sim
