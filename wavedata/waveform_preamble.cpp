#include "wavedata/waveform_preamble.h"

#include "wavedata/waveform_record.h"

#include <charconv>
#include <limits>
#include <vector>

namespace {

std::string_view SkipSpace(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' ||
                               text[i] == '\n' || text[i] == '\v' || text[i] == '\f')) {
        ++i;
    }
    return text.substr(i);
}

// from_chars takes no '+'; the instrument writes one on every number. False
// for "+-", which no scan conversion reads as a number.
bool SkipPlus(std::string_view& text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        return text.empty() || text[0] != '-';
    }
    return true;
}

template <typename Unsigned> void ReadUnsigned(std::string_view piece, Unsigned& field) {
    std::int64_t value = 0;
    if (ReadLeadingInteger(piece, value) && value >= 0 &&
        static_cast<std::uint64_t>(value) <= std::numeric_limits<Unsigned>::max()) {
        field = static_cast<Unsigned>(value);
    }
}

void ReadSigned32(std::string_view piece, std::int32_t& field) {
    std::int64_t value = 0;
    if (ReadLeadingInteger(piece, value) && value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max()) {
        field = static_cast<std::int32_t>(value);
    }
}

void ReadDouble(std::string_view piece, double& field) {
    double value = 0.0;
    if (ReadLeadingReal(piece, value)) {
        field = value;
    }
}

} // namespace

bool ReadLeadingInteger(std::string_view text, std::int64_t& value) {
    text = SkipSpace(text);
    if (!SkipPlus(text)) {
        return false;
    }
    std::int64_t parsed = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (result.ec != std::errc()) {
        return false;
    }
    value = parsed;
    return true;
}

bool ReadLeadingReal(std::string_view text, double& value) {
    text = SkipSpace(text);
    if (!SkipPlus(text)) {
        return false;
    }
    double parsed = 0.0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
    if (result.ec != std::errc()) {
        return false;
    }
    value = parsed;
    return true;
}

WaveformPreamble ParseWaveformPreamble(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t pos = 0;
    while (pos < text.size() && pieces.size() < 10) {
        const std::size_t comma = text.find(',', pos);
        const std::size_t end = comma == std::string_view::npos ? text.size() : comma;
        if (end > pos) {
            pieces.push_back(text.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    pieces.resize(10); // missing pieces are empty and convert to nothing

    WaveformPreamble p;
    ReadUnsigned(pieces[0], p.formatCode);
    ReadUnsigned(pieces[1], p.typeCode);
    ReadUnsigned(pieces[2], p.points);
    ReadUnsigned(pieces[3], p.count);
    ReadDouble(pieces[4], p.xIncrement);
    ReadDouble(pieces[5], p.xOrigin);
    ReadUnsigned(pieces[6], p.xReference);
    ReadDouble(pieces[7], p.yIncrement);
    ReadDouble(pieces[8], p.yOrigin);
    ReadSigned32(pieces[9], p.yReference);
    return p;
}

void ConvertSamples(const WaveformPreamble& preamble, const std::uint8_t* codes,
                    std::size_t samples, bool word, WaveformRecord& record) {
    record.Resize(static_cast<std::uint32_t>(samples));
    const auto reference = static_cast<std::uint32_t>(preamble.yReference);
    double x = preamble.xOrigin;
    for (std::size_t i = 0; i < samples; ++i) {
        const std::uint32_t code =
            word ? static_cast<std::uint32_t>(codes[2 * i] | (codes[2 * i + 1] << 8)) : codes[i];
        // Modular difference: an extreme yReference cannot overflow.
        const auto difference = static_cast<std::int32_t>(code - reference);
        record.y[i] = difference * preamble.yIncrement + preamble.yOrigin;
        record.x[i] = x;
        x += preamble.xIncrement;
    }
}
