#include "instr/rs_data_header.h"

#include "wavedata/waveform_preamble.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace quarvel::wavedata {
namespace {

constexpr std::size_t kFields = 4;
// Shown of a reply that does not parse: enough to recognise it.
constexpr std::size_t kQuotedChars = 80;

std::string_view Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// The whole field as one number ("+1.2E-007", "-5e-8", "120000").
bool ReadWholeNumber(std::string_view field, double& value) {
    field = Trimmed(field);
    if (!field.empty() && field.front() == '+')
        field.remove_prefix(1);
    if (field.empty() || field.front() == '+')
        return false;
    const char* end = field.data() + field.size();
    const auto [stop, ec] = std::from_chars(field.data(), end, value);
    return ec == std::errc() && stop == end;
}

} // namespace

bool ParseRsDataHeader(std::string_view text, RsDataHeader& out, std::string& why) {
    const std::string quoted =
        "the data header '" + std::string(text.substr(0, kQuotedChars)) + "'";
    std::vector<double> fields;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = text.find(',', begin);
        const std::string_view field = text.substr(
            begin, comma == std::string_view::npos ? std::string_view::npos : comma - begin);
        if (fields.size() == kFields) {
            why = quoted + " has more than " + std::to_string(kFields) + " fields";
            return false;
        }
        double value = 0.0;
        if (!ReadWholeNumber(field, value) || !std::isfinite(value)) {
            why = quoted + " has no number in field " + std::to_string(fields.size() + 1);
            return false;
        }
        fields.push_back(value);
        if (comma == std::string_view::npos)
            break;
        begin = comma + 1;
    }
    if (fields.size() != kFields) {
        why = quoted + " has " + std::to_string(fields.size()) + " fields, not " +
              std::to_string(kFields);
        return false;
    }
    const double length = fields[2];
    if (length < 0 || length > MAX_WAVEFORM_POINTS || length != std::floor(length)) {
        why = quoted + " announces a record length outside 0 to " +
              std::to_string(MAX_WAVEFORM_POINTS);
        return false;
    }
    if (fields[3] != 1.0 && fields[3] != 2.0) {
        why = quoted + " gives a number of values per sample other than 1 or 2";
        return false;
    }
    out.xStart = fields[0];
    out.xStop = fields[1];
    out.length = static_cast<std::uint32_t>(length);
    out.valuesPerSample = static_cast<std::uint32_t>(fields[3]);
    return true;
}

} // namespace quarvel::wavedata
