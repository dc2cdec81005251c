// Waveform data of the Rohde & Schwarz oscilloscopes that are definitions
// (RTB2000, RTM3000, RTA4000: rs-rtb.toml; MXO 4/5: rs-mxo.toml), the method
// "rs-channel-data". Per channel:
//   FORMat:DATA REAL,32        32-bit IEEE 754 values in a definite block
//                              (RTB2000/RTM3000 user manuals, FORMat[:DATA];
//                              MXO 4 user manual, FORMat[:DATA]; R&S examples
//                              RsInstrument_RTB2000_Example.py and
//                              RsInstrument_RTA/MXO-Waveform_transfer_Screenshot.py)
//   FORMat:BORDer LSBFirst     least significant byte first (see the habits)
//   CHANnel<m>:DATA:POINts MAX every sample of the memory, not only those on
//                              the screen (RTB2000/RTM3000 manuals; only
//                              while stopped; not sent to the MXO, whose
//                              CHANnel<m>:DATA? gives the whole record)
//   *OPC?                      the settings are taken before the data query
//   CHANnel<m>:DATA:HEADer?    XStart, XStop, record length, values per
//                              sample (instr/rs_data_header.h)
//   CHANnel<m>:DATA?           the values, in volts, as sent
// and the format and byte order found are put back afterwards.
// Scaling: none; the values are volts ("floats as sent"). Time of sample n:
//   t = XStart + n * (XStop - XStart) / (length - 1)
// (RTM3000 user manual, "Reading waveform data in unsigned integer format":
// t_n = n * XINCrement + XORigin, XORigin = XStart and the last sample's
// time = XStop; the same reading of the MXO header is unverified).
// Channels shown: CHANnel<m>:STATe? (RTB2000 manual; scopehal's
// RSRTB2kOscilloscope::IsChannelEnabled), only up to the model's channel
// count (RTB2002: 2), so no query goes to a channel the model lacks.
// Run state: read stopped (the definition's [run] steps stop a running scope
// and run it again afterwards): DATA:POINts MAX is refused while running
// (RTB2000 manual: "If the acquisition is running, DEF is always used"), the
// R&S MXO example acquires with RUNSingle before reading ("single acquisition
// is presupposition for retrieving waveform data"), and scopehal's RTB2000
// driver reports read errors when channels change while the scope runs.
// Habits handled:
// - The byte order at power-on and after *RST is MSB first on the RTA4000
//   (the R&S RTA example reads its REAL,32 data as "Single_4bytes_swapped"
//   until it sends FORMat:BORDer LSBFirst; the VisaIF MATLAB RTB2000 macros
//   send LSBfirst after every open and reset): LSBFirst is always sent.
// - A channel that is off answers a header with record length 0 (VisaIF
//   RTB2000 macros, captureWaveForm): that channel fails with the reason.
// - Settings sent right before a data query are confirmed with *OPC? first
//   (scopehal RSRTB2kOscilloscope: "without acknowledgment, reading errors
//   often occur").
// Not read: peak-detect and envelope records (two values per sample), which
// fail with the reason. The RTB UINT,8/16 formats with XORigin?/XINCrement?/
// YORigin?/YINCrement? are not used: REAL,32 gives the values the scope
// computes, exactly, and needs no resolution check (averaged records are 17
// or 18 bits wide and need UINT,32, the size of REAL,32; RTM3000 manual,
// FORMat[:DATA]).

#include "instr/retrieval_block.h"
#include "instr/retrieval_io.h"
#include "instr/rs_data_header.h"
#include "instr/scope_models.h"
#include "instr/waveform_method.h"
#include "visa/ascii.h"

#include <bit>
#include <cctype>
#include <cmath>

namespace quarvel::instr {
namespace {

using quarvel::wavedata::QueryInt32;
using quarvel::wavedata::QueryLine;
using quarvel::wavedata::SendText;

constexpr std::size_t kReplyLimit = 256;
constexpr std::size_t kBytesPerValue = 4;
// FORMat? and FORMat:BORDer? answer short words ("ASC,0", "REAL,32", "MSBF").
constexpr std::size_t kSettingLimit = 32;

bool IsMxo(const std::string& model) {
    return model.size() >= 3 && quarvel::ascii::EqualsIgnoringCase(model.substr(0, 3), "MXO");
}

// "CHAN3" → 3; 0 for anything else.
int ChannelNumber(std::string_view name) {
    if (name.size() != 5 || !quarvel::ascii::EqualsIgnoringCase(name.substr(0, 4), "CHAN") ||
        name[4] < '1' || name[4] > '9')
        return 0;
    return name[4] - '0';
}

// A setting as the instrument answers it, if it can be sent back as it is.
bool ReadSetting(ViSession session, const std::string& query, std::string& value) {
    std::string reply;
    if (!QueryLine(session, query, kSettingLimit, reply) || reply.empty())
        return false;
    for (const char c : reply)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == ','))
            return false;
    value = reply;
    return true;
}

// Puts the data format and byte order found back on every path: other
// programs on the same instrument read their data in the format they chose.
class FormatRestore {
public:
    explicit FormatRestore(ViSession session) : m_session(session) {
        ReadSetting(session, "FORMat?", m_format);
        ReadSetting(session, "FORMat:BORDer?", m_byteOrder);
    }
    ~FormatRestore() {
        if (!m_format.empty())
            SendText(m_session, "FORMat:DATA " + m_format);
        if (!m_byteOrder.empty())
            SendText(m_session, "FORMat:BORDer " + m_byteOrder);
    }
    FormatRestore(const FormatRestore&) = delete;
    FormatRestore& operator=(const FormatRestore&) = delete;

private:
    ViSession m_session;
    std::string m_format;
    std::string m_byteOrder;
};

std::vector<std::string> ShownChannels(const WaveformAccess& access,
                                       const std::vector<std::string>& offered) {
    const int count = ChannelCountOfModel(access.model);
    std::vector<std::string> shown;
    for (const std::string& name : offered) {
        const int n = ChannelNumber(name);
        std::int32_t on = 0;
        if (n >= 1 && n <= count && QueryInt32(access.session, name + ":STATe?", on) && on != 0)
            shown.push_back(name);
    }
    return shown;
}

float LittleEndianFloat(const std::uint8_t* bytes) {
    const std::uint32_t bits =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return std::bit_cast<float>(bits);
}

bool ReadChannel(const WaveformAccess& access, WaveformCaptureState&, const std::string& channel,
                 WaveformRecord& out, std::string& why) {
    const ViSession vi = access.session;
    const FormatRestore restore(vi);
    std::int32_t done = 0;
    if (!SendText(vi, "FORMat:DATA REAL,32") || !SendText(vi, "FORMat:BORDer LSBFirst") ||
        (!IsMxo(access.model) && !SendText(vi, channel + ":DATA:POINts MAX")) ||
        !QueryInt32(vi, "*OPC?", done)) {
        why = "the data format could not be set";
        return false;
    }
    std::string headerText;
    if (!QueryLine(vi, channel + ":DATA:HEADer?", kReplyLimit, headerText)) {
        why = "the data header query failed";
        return false;
    }
    quarvel::wavedata::RsDataHeader header;
    if (!quarvel::wavedata::ParseRsDataHeader(headerText, header, why))
        return false;
    if (header.length == 0) {
        why = "the data header announces no samples";
        return false;
    }
    if (header.valuesPerSample != 1) {
        why =
            "the record holds two values per sample (peak detect or envelope), which are not read";
        return false;
    }
    const std::size_t bytes = std::size_t{header.length} * kBytesPerValue;
    const quarvel::wavedata::BlockQuery query{
        .command = channel + ":DATA?", .maxBytes = bytes, .timeoutMs = access.transferTimeoutMs};
    std::vector<std::uint8_t> data;
    if (!quarvel::wavedata::QueryDataBlock(vi, query, data, why))
        return false;
    if (data.size() != bytes) {
        why = "the data block holds " + std::to_string(data.size()) + " bytes, not the " +
              std::to_string(bytes) + " of the " + std::to_string(header.length) +
              " samples the header announced";
        return false;
    }
    out.x.clear();
    out.y.clear();
    out.x.reserve(header.length);
    out.y.reserve(header.length);
    out.sampleKind = SAMPLE_KIND_DOUBLE;
    const double step =
        header.length > 1 ? (header.xStop - header.xStart) / (header.length - 1.0) : 0.0;
    for (std::uint32_t i = 0; i < header.length; ++i) {
        const float value = LittleEndianFloat(&data[std::size_t{i} * kBytesPerValue]);
        if (!std::isfinite(value)) {
            why = "sample " + std::to_string(i + 1) + " is not a finite number";
            out.x.clear();
            out.y.clear();
            return false;
        }
        out.x.push_back(header.xStart + i * step);
        out.y.push_back(value);
    }
    out.name = channel;
    out.xLabel = "time/s";
    out.yLabel = "voltage/V";
    return true;
}

} // namespace

const WaveformMethod& RsChannelDataWaveformMethod() {
    static const WaveformMethod method{
        .name = "rs-channel-data", .active = ShownChannels, .read = ReadChannel};
    return method;
}

} // namespace quarvel::instr
