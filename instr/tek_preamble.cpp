#include "instr/tek_preamble.h"

#include "visa/ascii.h"
#include "wavedata/waveform_preamble.h"

#include <cmath>
#include <map>

namespace quarvel::wavedata {
namespace {

// A field name as the instrument abbreviates it: the short form is the
// upper-case part of the documented name (XINcr → XIN), and any prefix of
// the long form from the short form on is accepted.
struct FieldName {
    std::string_view shortForm;
    std::string_view longForm;
};

bool Matches(std::string_view name, const FieldName& field) {
    if (name.size() < field.shortForm.size() || name.size() > field.longForm.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char a = static_cast<char>(name[i] >= 'a' && name[i] <= 'z' ? name[i] - 32 : name[i]);
        if (a != field.longForm[i])
            return false;
    }
    return true;
}

// "name value" elements split at ';' outside quotes; the name loses any
// ":WFMPRE:" or ":WFMOUTPRE:" path before it.
std::map<std::string, std::string> Elements(std::string_view text) {
    std::map<std::string, std::string> out;
    std::string element;
    bool quoted = false;
    auto flush = [&] {
        std::size_t start = element.find_first_not_of(" \t\r\n");
        if (start != std::string::npos) {
            const std::size_t space = element.find(' ', start);
            std::string name = element.substr(start, space == std::string::npos ? std::string::npos
                                                                                : space - start);
            const std::size_t colon = name.rfind(':');
            if (colon != std::string::npos)
                name.erase(0, colon + 1);
            out[name] = space == std::string::npos ? "" : element.substr(space + 1);
        }
        element.clear();
    };
    for (const char c : text) {
        if (c == '"')
            quoted = !quoted;
        if (c == ';' && !quoted)
            flush();
        else
            element += c;
    }
    flush();
    return out;
}

} // namespace

bool ParseTekPreamble(std::string_view text, TekPreamble& out, std::string& why) {
    const auto elements = Elements(text);
    const auto find = [&](const FieldName& field) -> const std::string* {
        for (const auto& [name, value] : elements)
            if (Matches(name, field))
                return &value;
        return nullptr;
    };
    const auto number = [&](const FieldName& field, double& value, bool needed) {
        const std::string* text = find(field);
        if (text == nullptr)
            return !needed;
        return ReadLeadingReal(*text, value) && std::isfinite(value);
    };
    double points = 0.0;
    double width = 1.0;
    if (!number({"NR_P", "NR_PT"}, points, true) ||
        !number({"XIN", "XINCR"}, out.xIncrement, true) ||
        !number({"XZE", "XZERO"}, out.xZero, true) ||
        !number({"YMU", "YMULT"}, out.yMultiplier, true) ||
        !number({"YZE", "YZERO"}, out.yZero, true) || !number({"YOF", "YOFF"}, out.yOffset, true) ||
        !number({"PT_O", "PT_OFF"}, out.pointOffset, false) ||
        !number({"BYT_N", "BYT_NR"}, width, false)) {
        why = "the preamble lacks a readable NR_Pt, XINcr, XZEro, YMUlt, YZEro or YOFf";
        return false;
    }
    const std::string* format = find({"BN_F", "BN_FMT"});
    out.floatCodes = format != nullptr && quarvel::ascii::EqualsIgnoringCase(*format, "FP");
    out.signedCodes = format == nullptr || !quarvel::ascii::EqualsIgnoringCase(*format, "RP");
    const bool widthFits = out.floatCodes ? width == 4 : (width == 1 || width == 2);
    if (points < 1 || points > MAX_WAVEFORM_POINTS || !widthFits) {
        // Whole numbers as the instrument wrote them ("2500", not "2500.000000").
        const auto whole = [](double value) {
            return value > -1e15 && value < 1e15 ? std::to_string(static_cast<long long>(value))
                                                 : std::string("too many");
        };
        why = "the preamble announces " + whole(points) + " points of " + whole(width) + " bytes" +
              (out.floatCodes ? " (floating point)" : "");
        return false;
    }
    if (const std::string* order = find({"BYT_O", "BYT_OR"}))
        out.msbFirst = !quarvel::ascii::EqualsIgnoringCase(*order, "LSB");
    out.points = static_cast<std::uint32_t>(points);
    out.byteWidth = static_cast<std::uint32_t>(width);
    return true;
}

} // namespace quarvel::wavedata
