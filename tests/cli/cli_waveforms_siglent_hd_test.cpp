// quarvel-cli capture --waveforms against the Siglent SDS HD / X Plus
// persona, over a LAN socket and over USB (USB/IP): the CSV values must
// equal what this test computes itself from the served bytes with the
// programming guide's example (descriptor offsets, 16-bit words shifted to
// the ADC's bits, codes per division over 16 for a 12-bit ADC,
// t = -(tdiv * 10 / 2) + i * interval - delay), read through a VISA
// session of its own with its own paging.

#include "tests/cli/waveform_cli_fixture.h"

#include <algorithm>
#include <cstring>

namespace quarvel::test {
namespace {

// The data of the "#9" block that answers `query`, read with its two line
// feeds. `points`: a WORD block whose header names this many holds twice as
// many bytes; `announced` gets the header's count.
std::string Block(const ScopePanel& scope, const std::string& query, std::size_t points,
                  std::size_t& announced) {
    scope.Send(query);
    const std::string header = scope.Read(11);
    if (header.size() != 11 || header.compare(0, 2, "#9") != 0)
        return {};
    announced = std::stoul(header.substr(2));
    std::string data = scope.Read(announced == points ? 2 * points : announced);
    return scope.Read(2) == "\n\n" ? data : std::string();
}

template <typename T> T At(const std::string& d, std::size_t offset) {
    T value{};
    std::memcpy(&value, d.data() + offset, sizeof value);
    return value;
}

// The guide's example, step by step, for each channel; `wordHeaderCounts`
// tells what the header of a WORD page must count (points or bytes).
Expected Reference(const ScopePanel& scope, const std::vector<std::string>& channels, bool word,
                   bool headerCountsPoints) {
    Expected e;
    for (const std::string& channel : channels) {
        scope.Send(":WAV:SOUR " + channel);
        scope.Send(word ? ":WAV:WIDT WORD" : ":WAV:WIDT BYTE");
        scope.Send(":WAV:STAR 0");
        scope.Send(":WAV:POIN 0");
        std::size_t announced = 0;
        const std::string d = Block(scope, ":WAV:PRE?", 0, announced);
        EXPECT_EQ(d.size(), 346u);
        if (d.size() < 346)
            return e;
        const auto points = static_cast<std::size_t>(At<std::int32_t>(d, 0x74));
        const double probe = At<float>(d, 0x148);
        const double vdiv = At<float>(d, 0x9c) * probe;
        const double offset = At<float>(d, 0xa0) * probe;
        double code = At<float>(d, 0xa4);
        const int adcBits = At<std::int16_t>(d, 0xac);
        const double interval = At<float>(d, 0xb0);
        const double delay = At<double>(d, 0xb4);
        const double tdiv = scope.Number(":TIM:SCAL?");
        const auto page = static_cast<std::size_t>(scope.Number(":WAV:MAXP?"));
        if (adcBits > 8)
            code /= 16;
        std::string bytes;
        for (std::size_t first = 0; first < points; first += page) {
            const std::size_t count = std::min(page, points - first);
            scope.Send(":WAV:STAR " + std::to_string(first));
            scope.Send(":WAV:POIN " + std::to_string(count));
            bytes += Block(scope, ":WAV:DATA?", word ? count : 0, announced);
            EXPECT_EQ(announced, word && !headerCountsPoints ? 2 * count : count);
        }
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < (word ? bytes.size() / 2 : bytes.size()); ++i) {
            long data = 0;
            if (word) {
                const long word16 = static_cast<unsigned char>(bytes[2 * i + 1]) * 256 +
                                    static_cast<unsigned char>(bytes[2 * i]);
                data = word16 >> (16 - adcBits);
                if (data > (1L << (adcBits - 1)) - 1)
                    data -= 1L << adcBits;
            } else {
                data = static_cast<unsigned char>(bytes[i]);
                if (data > 127)
                    data -= 256;
            }
            y.push_back(static_cast<double>(data) / code * vdiv - offset);
            e.x.push_back(-(tdiv * 10 / 2) + static_cast<double>(i) * interval - delay);
        }
        e.y.push_back(y);
    }
    return e;
}

struct Case {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    bool word;
    bool headerCountsPoints;
};

const Case kCases[] = {
    // SDS824X HD: 12-bit words; three pages of :WAV:MAXP? points, the last
    // one shorter; channel 2 behind a 10:1 probe.
    {"Hd",
     {"--instrument", "siglent-hd", "--waveform-points", "30000", "--waveform-page", "12000"},
     {"C1", "C2"},
     true,
     false},
    // SDS2000X HD firmware that counts points in the WORD block header.
    {"HdHeaderCountsPoints",
     {"--instrument", "siglent-hd", "--idn", "Siglent Technologies,SDS2104X HD,SDS2HA1,1.2.2.9",
      "--habit", "word-count=points", "--waveform-points", "20000", "--waveform-page", "8000"},
     {"C3", "C4"},
     true,
     true},
    // SDS2000X Plus: 8-bit, read as signed bytes, one page.
    {"XPlus",
     {"--instrument", "siglent-hd", "--idn", "Siglent Technologies,SDS2104X Plus,SDS2PA1,1.3.9R12",
      "--waveform-points", "25000"},
     {"C1", "C4"},
     false,
     false},
};

class SiglentHdWaveforms : public ::testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(SiglentHdWaveforms, CsvHoldsTheGuidesScalingOfTheServedCodes) {
    const auto& [c, usb] = GetParam();
    SimProcess sim(c.simArgs);
    ASSERT_TRUE(sim.Started());
    ExpectCsvMatchesReference(
        sim, usb, c.channels,
        [&](const ScopePanel& scope) {
            return Reference(scope, c.channels, c.word, c.headerCountsPoints);
        },
        1e-12);
}

INSTANTIATE_TEST_SUITE_P(Personas, SiglentHdWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         CaseOverLink<Case>);

} // namespace
} // namespace quarvel::test
