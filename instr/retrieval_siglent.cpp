// Waveform data of the Siglent SDS1000X-E / SDS2000X-E with the older
// command set, as the SDS1000X-E Programming Guide (chapter "Waveform",
// WAVEFORM? / WF? and its "read waveform" example; also the Digital
// Oscilloscopes Series guide PG01-E02) describes it:
//   CHDR OFF for the transfer (the setting found is put back afterwards),
//   WFSU SP,0,NP,0,FP,0 (every point, from the first), then per channel
//   C<n>:VDIV?, C<n>:OFST?, TDIV?, SARA?, TRDL? and C<n>:WF? DAT2, whose
//   reply is "C<n>:WF DAT2,#9<length><data>" followed by two line feeds.
//   V = code * VDIV / 25 - OFST, the code a signed byte;
//   t = TRDL - TDIV * 14 / 2 + i / SARA (14 horizontal divisions; the
//   guide's worked example: TRDL -5 ns, TDIV 5 ns gives -40 ns for the
//   first point; the sign of TRDL is not verified on an instrument).
// Habits handled:
// - The guide's example turns codes above 127 negative by subtracting 255;
//   a signed byte is the code minus 256 (its own example, 0xFF, is -1 V
//   steps, not 0): 256 is used here, and the guide's text is at fault.
// - The reply carries its header before the block whatever CHDR says, and
//   two line feeds after it: the header is skipped up to '#', the two line
//   feeds are read by count so the next reply starts clean.
// - Replies carry units, with SI prefixes in the guide's examples
//   ("5.00E-01V", "SARA 1.00GSa/s", "TRDL -5.000000ns"): the number, then a
//   prefix letter when another letter follows it.
// The data is read while stopped (TRMD STOP, the trigger mode put back
// afterwards) so every channel comes from the same acquisition.

#include "instr/instr_sigl_sds.h"
#include "instr/retrieval_block.h"
#include "instr/retrieval_io.h"
#include "instr/scope_models.h"
#include "visa/ascii.h"
#include "wavedata/waveform_preamble.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

using namespace quarvel::wavedata;

namespace {

constexpr std::size_t kReplyLimit = 256;
constexpr double kHorizontalDivisions = 14.0;
constexpr double kCodesPerDivision = 25.0;

// A number with its unit as the older set prints it: "5.00E-01V",
// "5.00E-09S", and in the guide's own examples "1.00GSa/s" and
// "-5.000000ns": a letter among p n u m k M G that another letter follows
// is a prefix of the unit. False when there is no finite number.
bool ReadWithUnit(std::string_view text, double& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '+'))
        text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || !std::isfinite(value))
        return false;
    const std::string_view rest(end, static_cast<std::size_t>(text.data() + text.size() - end));
    constexpr std::string_view kPrefixes = "pnumkMG";
    constexpr double kFactors[] = {1e-12, 1e-9, 1e-6, 1e-3, 1e3, 1e6, 1e9};
    const std::size_t prefix = rest.empty() ? std::string_view::npos : kPrefixes.find(rest[0]);
    if (prefix != std::string_view::npos && rest.size() > 1 &&
        ((rest[1] >= 'A' && rest[1] <= 'Z') || (rest[1] >= 'a' && rest[1] <= 'z')))
        value *= kFactors[prefix];
    return true;
}

bool QueryReal(ViSession session, const std::string& query, double& value) {
    std::string reply;
    return QueryLine(session, query, kReplyLimit, reply) && ReadWithUnit(reply, value);
}

} // namespace

void CInstrSiglSDS::GetChannelList(ChannelList& out) {
    if (m_channelNames.empty()) {
        const int count = ChannelCountOfModel(m_model);
        for (int n = 1; n <= count; ++n)
            m_channelNames.push_back("C" + std::to_string(n));
    }
    out = m_channelNames;
}

void CInstrSiglSDS::GetActiveChannels(ChannelList& out) {
    out.clear();
    ChannelList names;
    GetChannelList(names);
    for (const std::string& name : names) {
        std::string shown; // ON or OFF
        if (QueryWord(m_session, name + ":TRA?\n", kReplyLimit, shown) &&
            quarvel::ascii::EqualsIgnoringCase(shown, "ON"))
            out.push_back(name);
    }
}

bool CInstrSiglSDS::BeginDataCapture() {
    m_savedReplyHeaders.clear();
    std::string headers;
    if (QueryWord(m_session, "CHDR?\n", kReplyLimit, headers) &&
        (quarvel::ascii::EqualsIgnoringCase(headers, "OFF") ||
         quarvel::ascii::EqualsIgnoringCase(headers, "SHORT") ||
         quarvel::ascii::EqualsIgnoringCase(headers, "LONG")))
        m_savedReplyHeaders = headers;
    SendText(m_session, "CHDR OFF\n");
    m_stoppedForData = StopInstrument();
    SendText(m_session, "WFSU SP,0,NP,0,FP,0\n");
    return true;
}

bool CInstrSiglSDS::EndDataCapture() {
    const bool ran = RunInstrument(m_stoppedForData, false) || !m_stoppedForData;
    m_stoppedForData = false;
    const bool restored =
        m_savedReplyHeaders.empty() || SendText(m_session, "CHDR " + m_savedReplyHeaders + "\n");
    return ran && restored;
}

bool CInstrSiglSDS::GetWaveformData(const std::string& channel, WaveformRecord& out) {
    m_waveformFailure.clear();
    double vdiv = 0.0;
    double offset = 0.0;
    double timebase = 0.0;
    double rate = 0.0;
    double delay = 0.0;
    if (!QueryReal(m_session, channel + ":VDIV?\n", vdiv) ||
        !QueryReal(m_session, channel + ":OFST?\n", offset) ||
        !QueryReal(m_session, "TDIV?\n", timebase) || !QueryReal(m_session, "SARA?\n", rate) ||
        !QueryReal(m_session, "TRDL?\n", delay)) {
        m_waveformFailure = "the scale, offset, timebase, sample rate or delay did not read as a "
                            "number";
        return false;
    }
    if (!(rate > 0.0) || vdiv == 0.0) {
        m_waveformFailure = "the sample rate or the volts per division is 0";
        return false;
    }
    std::vector<std::uint8_t> codes;
    const BlockQuery query{.command = channel + ":WF? DAT2\n",
                           .maxBytes = MAX_WAVEFORM_POINTS,
                           .timeoutMs = m_transferTimeoutMs,
                           .tailBytes = 2};
    if (!QueryDataBlock(m_session, query, codes, m_waveformFailure))
        return false;
    if (codes.empty()) {
        m_waveformFailure = "the data block is empty";
        return false;
    }
    const double voltsPerCode = vdiv / kCodesPerDivision;
    const double first = delay - timebase * kHorizontalDivisions / 2.0;
    out.Resize(static_cast<std::uint32_t>(codes.size()));
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const int code = codes[i] > 127 ? codes[i] - 256 : codes[i];
        out.y[i] = code * voltsPerCode - offset;
        out.x[i] = first + static_cast<double>(i) / rate;
    }
    out.name = channel;
    out.xLabel = "time/s";
    out.yLabel = "voltage/V";
    return true;
}
