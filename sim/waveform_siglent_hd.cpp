#include "sim/waveform_siglent_hd.h"

#include "sim/family_siglent_hd.h"
#include "sim/screen_image.h"
#include "sim/waveform_scpi_number.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

namespace quarvel::sim {
namespace {

constexpr long long kDefaultRecordPoints = 1000000;
constexpr long long kDefaultMaxPoints = 5000000;
constexpr double kTimebase = 1.0e-4; // :TIMebase:SCALe
constexpr double kDivisions = 10.0;
constexpr double kDelay = 1.5e-5; // the descriptor's horizontal offset
// Codes a division: 30 for 8-bit samples (scopehal's constant for the X
// Plus); the 12-bit HD models 16 times as many, in the high bits of a word.
constexpr double kByteCodesPerDivision = 30.0;
constexpr double kWordCodesPerDivision = 30.0 * 256.0;
constexpr std::size_t kDescriptorSize = 346;
// TDIV_ENUM of the guide's example, from 100 ps: 100 us/div is entry 18.
constexpr std::int16_t kTimebaseIndex = 18;

// Per channel, without the probe: volts a division, offset, probe factor;
// channel 2 has a 10:1 probe, so the descriptor's values must be scaled.
struct ChannelSetting {
    float voltsPerDivision;
    float offset;
    float probe;
};
constexpr ChannelSetting kChannels[4] = {
    {0.5F, 0.2F, 1.0F}, {0.1F, -0.05F, 10.0F}, {0.2F, 0.0F, 1.0F}, {2.0F, 1.0F, 1.0F}};

struct HdWaveState {
    bool channelOn[4] = {true, true, true, true};
    int source = 1;
    bool word = false;
    long long start = 0;  // :WAVeform:STARt, from 0
    long long points = 0; // :WAVeform:POINt, 0: all
    long long recordPoints = kDefaultRecordPoints;
    long long maxPoints = kDefaultMaxPoints;
    bool twelveBit = false;
    bool wordHeaderCountsPoints = false;
    int brokenDescriptor = 0; // :SIMulate:PREamble:FAIL
    int shortPages = 0;       // :SIMulate:DATA:SHORt
    // The codes of the last channel and width asked for, kept so that
    // pages of a deep record cost no recomputation.
    int cachedSource = 0;
    bool cachedWord = false;
    std::string cached;
};

// The 12-bit (or 8-bit) code of sample i of the record.
const std::string& RecordCodes(HdWaveState& s) {
    if (s.cachedSource == s.source && s.cachedWord == s.word &&
        s.cached.size() == static_cast<std::size_t>(s.recordPoints) * (s.word ? 2 : 1))
        return s.cached;
    const ChannelSetting& c = kChannels[s.source - 1];
    const double volts = static_cast<double>(c.voltsPerDivision) * c.probe;
    const double offset = static_cast<double>(c.offset) * c.probe;
    const double perDivision = s.word ? kWordCodesPerDivision / 16.0 : kByteCodesPerDivision;
    const long long high = s.word ? 2047 : 127;
    std::string& out = s.cached;
    out.assign(static_cast<std::size_t>(s.recordPoints) * (s.word ? 2 : 1), '\0');
    for (long long i = 0; i < s.recordPoints; ++i) {
        // The trace in divisions, as drawn; V = divisions * V/div.
        const double divisions = ScreenTraceValue(
            s.source - 1, static_cast<double>(i) / static_cast<double>(s.recordPoints));
        const long long code = std::clamp(
            std::llround((divisions * volts + offset) / volts * perDivision), -high - 1, high);
        if (s.word) {
            const auto raw = static_cast<std::uint16_t>(static_cast<std::uint16_t>(code) << 4);
            out[static_cast<std::size_t>(2 * i)] = static_cast<char>(raw & 0xFF);
            out[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>(raw >> 8);
        } else {
            out[static_cast<std::size_t>(i)] = static_cast<char>(static_cast<signed char>(code));
        }
    }
    s.cachedSource = s.source;
    s.cachedWord = s.word;
    return out;
}

template <typename T> void Put(std::string& d, std::size_t at, T value) {
    static_assert(std::endian::native == std::endian::little);
    std::memcpy(d.data() + at, &value, sizeof value);
}

long long TransferPoints(const HdWaveState& s) {
    const long long left = std::max(0LL, s.recordPoints - s.start);
    return s.points > 0 ? std::min(s.points, left) : left;
}

// The WAVEDESC block of the programming guide's table, for the source.
std::string Descriptor(const HdWaveState& s) {
    std::string d(kDescriptorSize, '\0');
    std::memcpy(d.data(), s.brokenDescriptor == s.source ? "WAVEDES?" : "WAVEDESC", 8);
    std::memcpy(d.data() + 16, "WAVEACE", 7);
    const ChannelSetting& c = kChannels[s.source - 1];
    const long long points = TransferPoints(s);
    Put<std::int16_t>(d, 32, s.word ? 1 : 0); // COMM_TYPE
    Put<std::int16_t>(d, 34, 0);              // COMM_ORDER: LSB first
    Put<std::int32_t>(d, 36, static_cast<std::int32_t>(kDescriptorSize));
    Put<std::int32_t>(d, 60, static_cast<std::int32_t>(points * (s.word ? 2 : 1)));
    std::memcpy(d.data() + 76, "Siglent SDS", 11);
    Put<std::int32_t>(d, 116, static_cast<std::int32_t>(points));
    Put<std::int32_t>(d, 132, static_cast<std::int32_t>(s.start));
    Put<std::int32_t>(d, 136, 1);
    Put<float>(d, 156, c.voltsPerDivision);
    Put<float>(d, 160, c.offset);
    Put<float>(d, 164, static_cast<float>(s.word ? kWordCodesPerDivision : kByteCodesPerDivision));
    Put<std::int16_t>(d, 172, s.twelveBit ? 12 : 8);
    Put<float>(d, 176,
               static_cast<float>(kTimebase * kDivisions / static_cast<double>(s.recordPoints)));
    Put<double>(d, 180, kDelay);
    Put<std::int16_t>(d, 324, kTimebaseIndex);
    Put<float>(d, 328, c.probe);
    Put<std::int16_t>(d, 344, static_cast<std::int16_t>(s.source - 1));
    return d;
}

// "#9<nine digits><data>" and two line feeds, exactly so on every transport.
void SendBlock(CommandResult& r, std::size_t announced, const char* data, std::size_t size) {
    std::string length = std::to_string(announced);
    std::string reply = "#9" + std::string(9 - length.size(), '0') + length;
    reply.reserve(reply.size() + size + 2);
    reply.append(data, size);
    reply += "\n\n";
    r.Raw(std::move(reply));
    r.reply.exact = true;
}

bool ReadCount(const CommandCall& call, CommandResult& r, long long low, long long& value) {
    const auto number = call.params.size() == 1 ? ParseScpiReal(call.params[0]) : std::nullopt;
    if (!number || *number < static_cast<double>(low) || *number > 1.0e9) {
        r.Error(-224, "Illegal parameter value");
        return false;
    }
    value = std::llround(*number);
    return true;
}

} // namespace

void AddSiglentHdWaveforms(SiglentHdSim& scope, const InstrumentSetup& setup) {
    auto s = std::make_shared<HdWaveState>();
    if (setup.quirks.waveformPoints > 0)
        s->recordPoints = setup.quirks.waveformPoints;
    if (setup.quirks.waveformPage > 0)
        s->maxPoints = setup.quirks.waveformPage;
    s->twelveBit = ModelOf(setup.idn).find("HD") != std::string::npos;
    s->wordHeaderCountsPoints = setup.habits.Value("word-count") == "points";
    CommandTable& t = scope.Commands();

    AddChannelSwitch(t, ":CHANnel#:SWITch", s, s->channelOn, "ON", "OFF");
    AddWaveformSource(t, ":WAVeform:SOURce", s, s->source, {"C"});
    t.Add(":WAVeform:SOURce?",
          [s](const CommandCall&, CommandResult& r) { r.Text("C" + std::to_string(s->source)); });
    t.Add(":WAVeform:WIDTh", [s](const CommandCall& call, CommandResult& r) {
        const int width =
            call.params.size() == 1 ? MatchChoice(call.params[0], {"BYTE", "WORD"}) : -1;
        if (width < 0)
            r.Error(-224, "Illegal parameter value");
        else
            s->word = width == 1;
    });
    t.Add(":WAVeform:WIDTh?",
          [s](const CommandCall&, CommandResult& r) { r.Text(s->word ? "WORD" : "BYTE"); });
    t.Add(":WAVeform:STARt",
          [s](const CommandCall& call, CommandResult& r) { ReadCount(call, r, 0, s->start); });
    t.Add(":WAVeform:STARt?",
          [s](const CommandCall&, CommandResult& r) { r.Text(std::to_string(s->start)); });
    t.Add(":WAVeform:POINt",
          [s](const CommandCall& call, CommandResult& r) { ReadCount(call, r, 0, s->points); });
    t.Add(":WAVeform:POINt?",
          [s](const CommandCall&, CommandResult& r) { r.Text(std::to_string(s->points)); });
    t.Add(":WAVeform:MAXPoint?",
          [s](const CommandCall&, CommandResult& r) { r.Text(std::to_string(s->maxPoints)); });
    t.Add(":TIMebase:SCALe?", [](const CommandCall&, CommandResult& r) { r.Text("1.00E-04"); });
    t.Add(":WAVeform:PREamble?", [s](const CommandCall&, CommandResult& r) {
        const std::string d = Descriptor(*s);
        SendBlock(r, d.size(), d.data(), d.size());
    });
    t.Add(":WAVeform:DATA?", [s](const CommandCall&, CommandResult& r) {
        const std::size_t width = s->word ? 2 : 1;
        long long count = std::min(TransferPoints(*s), s->maxPoints);
        if (!s->channelOn[s->source - 1])
            count = 0;
        if (count > 0 && s->shortPages == s->source)
            --count;
        const std::string& codes = RecordCodes(*s);
        const std::size_t bytes = static_cast<std::size_t>(count) * width;
        const char* first =
            count > 0 ? codes.data() + static_cast<std::size_t>(s->start) * width : codes.data();
        SendBlock(r, s->word && s->wordHeaderCountsPoints ? static_cast<std::size_t>(count) : bytes,
                  first, bytes);
    });
    t.Add(":SIMulate:PREamble:FAIL", [s](const CommandCall& call, CommandResult& r) {
        long long n = 0;
        if (ReadCount(call, r, 0, n))
            s->brokenDescriptor = static_cast<int>(n);
    });
    t.Add(":SIMulate:DATA:SHORt", [s](const CommandCall& call, CommandResult& r) {
        long long n = 0;
        if (ReadCount(call, r, 0, n))
            s->shortPages = static_cast<int>(n);
    });
}

} // namespace quarvel::sim
