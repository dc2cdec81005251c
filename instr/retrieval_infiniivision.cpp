// The waveform data operations of the InfiniiVision driver (and of the X
// series, which inherits them unchanged).

#include "instr/instr_keys_infiniivision.h"
#include "instr/retrieval_io.h"
#include "wavedata/waveform_preamble.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

using namespace quarvel::wavedata;

namespace {

constexpr std::size_t REPLY_LIMIT = 1024;

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

ChannelList ChannelsOfModel(const std::string& model) {
    const bool hasPods = model.compare(0, 3, "MSO") == 0;
    // Two-channel models end in "2" and a letter: DSO-X 2002A, MSO-X 2012A.
    const std::size_t n = model.size();
    const bool twoChannels = n >= 2 && model[n - 2] == '2' && IsAsciiLetter(model[n - 1]);
    ChannelList names{"CHAN1", "CHAN2"};
    if (!twoChannels) {
        names.insert(names.end(), {"CHAN3", "CHAN4"});
    }
    if (hasPods) {
        names.insert(names.end(), {"POD1", "POD2"});
    }
    return names;
}

} // namespace

void CInstrKeysInfiniiVision::GetChannelList(ChannelList& out) {
    if (m_channelNames.empty()) {
        m_channelNames = ChannelsOfModel(m_model);
    }
    out = m_channelNames;
}

void CInstrKeysInfiniiVision::GetActiveChannels(ChannelList& out) {
    out.clear();
    for (const std::string& name : m_channelNames) {
        std::int32_t shown = 0;
        if (!QueryInt32(m_session, ":STAT? " + name + "\n", shown)) {
            break; // keep what was found so far
        }
        if (shown != 0) {
            out.push_back(name);
        }
    }
}

bool CInstrKeysInfiniiVision::BeginDataCapture() {
    m_savedTimebaseRange.clear();
    std::string range;
    if (!QueryWord(m_session, ":TIMEBASE:RANGE?\n", REPLY_LIMIT, range)) {
        return true;
    }
    // Only a number goes back into a command later: a reply carrying
    // anything else (another command after a ';') is not kept.
    if (range.find_first_not_of("+-.0123456789eE") == std::string::npos) {
        m_savedTimebaseRange = range;
    }

    std::int32_t points = 0;
    if (!QueryInt32(m_session, ":ACQUIRE:POINTS?\n", points)) {
        return true;
    }
    std::string rateText;
    if (!QueryWord(m_session, ":ACQUIRE:SRATE?\n", REPLY_LIMIT, rateText)) {
        return true;
    }
    // The rate comes as a real number ("+2.00000000E+09"). A rate of 0, a
    // non-finite or unreadable rate, or no points give no meaningful
    // duration: the range is then left as it is.
    double rate = 0.0;
    if (!ReadLeadingReal(rateText, rate) || !std::isfinite(rate) || rate <= 0.0 || points <= 0) {
        return true;
    }
    const double duration = static_cast<double>(points) / rate;
    if (std::isfinite(duration)) {
        // The shortest text that reads back as the same double ("3.125e-05"
        // for 62 500 points at 2 GSa/s), with '.' whatever the locale: six
        // fixed decimals would turn a record shorter than 0.5 µs into 0.
        char number[32];
        const auto [end, ec] = std::to_chars(number, number + sizeof number, duration);
        if (ec == std::errc()) {
            SendText(m_session, ":TIMEBASE:RANGE " + std::string(number, end) + "\n");
        }
    }
    return true;
}

bool CInstrKeysInfiniiVision::EndDataCapture() {
    if (m_savedTimebaseRange.empty()) {
        return true;
    }
    return SendText(m_session, ":TIMEBASE:RANGE " + m_savedTimebaseRange + "\n");
}

bool CInstrKeysInfiniiVision::GetWaveformData(const std::string& channel, WaveformRecord& out) {
    // The acquisition record length; a failed query sends 0, which the
    // instrument takes as "as many as available".
    std::int32_t acqPoints = 0;
    QueryInt32(m_session, ":ACQ:POIN?\n", acqPoints);
    std::string acqType;
    QueryWord(m_session, ":ACQUIRE:TYPE?\n", REPLY_LIMIT, acqType);
    // Averaged data has more resolution than a byte holds.
    const bool word = acqType == "AVER";
    const std::size_t bytesPerSample = word ? 2 : 1;

    // Set-up failures do not stop the read: the preamble and the block decide.
    (void)(SendText(m_session, ":WAVEFORM:POINTS:MODE RAW\n") &&
           SendText(m_session, ":WAVEFORM:BYTEORDER LSBFIRST\n") &&
           SendText(m_session,
                    std::string(":WAVEFORM:FORMAT ") + (word ? "WORD" : "BYTE") + "\n") &&
           SendText(m_session, ":WAVEFORM:POINTS " +
                                   std::to_string(static_cast<std::uint32_t>(acqPoints)) + "\n"));

    const std::string source = ":WAV:SOUR " + channel + "\n";
    std::string preambleText;
    {
        const Step step(*this, "reading the preamble of " + channel);
        if (!SendText(m_session, source) ||
            !QueryLine(m_session, ":WAVEFORM:PREAMBLE?\n", REPLY_LIMIT, preambleText)) {
            preambleText.clear();
            NoteFailure(VI_ERROR_IO);
        }
    }
    const WaveformPreamble preamble = ParseWaveformPreamble(preambleText);
    // The preamble alone sizes the buffer: it is bounded before anything is
    // allocated, and a channel announcing more than any real record fails.
    if (preamble.points == 0 || preamble.points > MAX_WAVEFORM_POINTS) {
        const Step step(*this, "reading the preamble of " + channel);
        NoteFailure(VI_SUCCESS, quarvel::instr::FailureKind::NotUnderstood,
                    quarvel::instr::ShowBytes(preambleText.data(), preambleText.size(), 48));
        return false;
    }
    std::vector<std::uint8_t> codes(preamble.points * bytesPerSample);

    const Step step(*this, "reading the data of " + channel);
    if (!SendText(m_session, source)) {
        NoteFailure(VI_ERROR_IO);
        return false;
    }
    // Put back on every path: a failed transfer must not leave the long
    // timeout on every later exchange.
    const TransferTimeout timeout(m_session, m_transferTimeoutMs);
    if (!timeout.Raised()) {
        NoteFailure(VI_ERROR_IO);
        return false;
    }
    ViUInt32 received = static_cast<ViUInt32>(codes.size());
    const ViStatus status =
        viQueryf(m_session, ":WAVEFORM:DATA?\n", "%#b\n", &received, codes.data());
    if (status != VI_SUCCESS) {
        NoteFailure(status);
        return false;
    }
    viFlush(m_session, VI_READ_BUF);

    // Fewer bytes than announced: the record holds the samples that came,
    // none is invented.
    const std::size_t samples = std::min<std::size_t>(
        preamble.points, std::min<std::size_t>(received, codes.size()) / bytesPerSample);
    if (samples == 0) {
        NoteFailure(VI_SUCCESS, quarvel::instr::FailureKind::NotUnderstood, "an empty block");
        return false;
    }
    ConvertSamples(preamble, codes.data(), samples, word, out);
    out.name = channel;
    out.xLabel = "time/s";
    out.yLabel = "voltage/V";
    return true;
}
