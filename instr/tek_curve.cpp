#include "instr/tek_curve.h"

#include "instr/retrieval_block.h"
#include "instr/retrieval_io.h"
#include "instr/tek_preamble.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quarvel::wavedata {
namespace {

// A preamble is some 20 to 24 fields; its WFId quotes a line of text.
constexpr std::size_t kPreambleLimit = 1024;
constexpr std::size_t kReplyLimit = 64;

// The setting a query finds, "0" or "1" ("" when it cannot be read).
std::string BinarySetting(ViSession session, const std::string& query) {
    std::string value;
    if (QueryWord(session, query, kReplyLimit, value) && (value == "0" || value == "1"))
        return value;
    return {};
}

// Sample i of the curve as the preamble describes it.
double Code(const std::uint8_t* codes, std::uint32_t i, const TekPreamble& p) {
    if (p.byteWidth == 1)
        return p.signedCodes ? static_cast<std::int8_t>(codes[i]) : codes[i];
    const std::uint8_t* sample = codes + static_cast<std::size_t>(i) * p.byteWidth;
    std::uint32_t word = 0;
    for (std::uint32_t k = 0; k < p.byteWidth; ++k)
        word = word << 8 | sample[p.msbFirst ? k : p.byteWidth - 1 - k];
    if (p.floatCodes)
        return std::bit_cast<float>(word);
    const auto value16 = static_cast<std::uint16_t>(word);
    return p.signedCodes ? static_cast<std::int16_t>(value16) : value16;
}

} // namespace

std::string TekPreambleHeadersOn(ViSession session, bool verbose) {
    const std::string headers = BinarySetting(session, "HEADer?\n");
    const std::string verbosity = verbose ? BinarySetting(session, "VERBose?\n") : "";
    SendText(session, "HEADer 1\n");
    if (verbose)
        SendText(session, "VERBose 1\n");
    std::string restore;
    if (!headers.empty())
        restore = "HEADer " + headers;
    if (!verbosity.empty())
        restore += (restore.empty() ? "" : ";:") + std::string("VERBose ") + verbosity;
    return restore;
}

bool StopTekAcquisition(ViSession session, const std::string& stop) {
    std::string state;
    return QueryWord(session, "ACQuire:STATE?\n", kReplyLimit, state) && state != "0" &&
           SendText(session, stop + "\n");
}

bool ReadTekCurve(ViSession session, const std::string& preambleQuery, ViUInt32 timeoutMs,
                  const std::string& channel, WaveformRecord& out, std::string& why) {
    std::string preambleText;
    if (!QueryLine(session, preambleQuery, kPreambleLimit, preambleText)) {
        why = "the preamble query failed";
        return false;
    }
    TekPreamble p;
    if (!ParseTekPreamble(preambleText, p, why))
        return false;
    std::vector<std::uint8_t> codes;
    const std::size_t bytes = static_cast<std::size_t>(p.points) * p.byteWidth;
    const BlockQuery query{.command = "CURVe?\n", .maxBytes = bytes, .timeoutMs = timeoutMs};
    if (!QueryDataBlock(session, query, codes, why))
        return false;
    if (codes.size() != bytes) {
        why = "the curve brought " + std::to_string(codes.size() / p.byteWidth) + " of the " +
              std::to_string(p.points) + " points announced";
        return false;
    }
    out.Resize(p.points);
    for (std::uint32_t i = 0; i < p.points; ++i) {
        out.y[i] = (Code(codes.data(), i, p) - p.yOffset) * p.yMultiplier + p.yZero;
        out.x[i] = p.xZero + (i - p.pointOffset) * p.xIncrement;
    }
    out.name = channel;
    out.xLabel = "time/s";
    out.yLabel = "voltage/V";
    return true;
}

} // namespace quarvel::wavedata
