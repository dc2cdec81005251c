#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The most samples one channel or trace may announce. The largest real
// record is 8 000 000 points (16 MB as WORD samples, 128 MB as a record);
// a reply announcing more than this fails that channel instead of making
// the program allocate whatever the reply asks for.
constexpr std::uint32_t MAX_WAVEFORM_POINTS = 16u * 1024u * 1024u;

// The reply to ":WAVEFORM:PREAMBLE?", fields in reply order; every field
// is 0 unless the reply gave it.
struct WaveformPreamble {
    std::uint16_t formatCode = 0;
    std::uint16_t typeCode = 0;
    std::uint32_t points = 0;
    std::uint32_t count = 0;
    double xIncrement = 0.0;
    double xOrigin = 0.0;
    std::uint32_t xReference = 0;
    double yIncrement = 0.0;
    double yOrigin = 0.0;
    std::int32_t yReference = 0;
};

// Parses a preamble reply such as
// "+0,+0,+1000,+1,+2.00000000E-010,-1.00000000E-007,+0,+3.12500000E-002,+1.25000000E-002,+128".
// The text is split at commas (a run of commas is one separator, a leading
// comma is skipped) and the first ten pieces are converted in order, with
// leading white space and an optional sign, up to the first character
// that does not belong to the number (the line end, for one). A missing
// piece, a piece without a number, a negative value in an unsigned field
// or a value out of its field's range leaves that field 0. Numbers are read
// the same way in every locale.
WaveformPreamble ParseWaveformPreamble(std::string_view text);

// Number readers with the same rules, for single-value replies: true and
// the value when the text starts (after white space) with a number.
bool ReadLeadingInteger(std::string_view text, std::int64_t& value);
bool ReadLeadingReal(std::string_view text, double& value);

struct WaveformRecord;

// Fills `record` with `samples` samples of raw codes (one unsigned byte
// each, or two bytes least significant first when `word`), scaled by the
// preamble: y = (code - yReference) * yIncrement + yOrigin, the difference
// taken as a signed 32-bit value; x is a running sum that starts at xOrigin
// and grows by xIncrement after each sample (accumulated, so it carries the
// rounding of the sum, as the instrument's own time axis does).
void ConvertSamples(const WaveformPreamble& preamble, const std::uint8_t* codes,
                    std::size_t samples, bool word, WaveformRecord& record);
