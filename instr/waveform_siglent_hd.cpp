// Waveform data of the Siglent SDS800X HD, SDS1000X HD, SDS2000X Plus,
// SDS2000X HD and SDS3000X HD (the :WAVeform subsystem of the SDS Series
// Programming Guide EN11D and its "read waveform data" example, which
// Siglent also ships for the SDS2000X Plus):
//   :WAVeform:SOURce C<n>, :WAVeform:WIDTh BYTE|WORD, :WAVeform:STARt 0 and
//   :WAVeform:POINt 0 (every point), :WAVeform:PREamble? (a "#9" block
//   holding the binary WAVEDESC descriptor, instr/siglent_wavedesc.h),
//   :TIMebase:SCALe?, :WAVeform:MAXPoint? (the most points one
//   :WAVeform:DATA? sends), then pages :WAVeform:STARt <first> (from 0) /
//   :WAVeform:POINt <count> / :WAVeform:DATA?.
//   V = code / codes_per_div * vdiv - offset    (vdiv and offset times the
//       probe factor; the code signed)
//   t = -delay - tdiv * 10 / 2 + i * interval   (10 horizontal divisions)
// The guide's example reads WORD data as a 16-bit word shifted right by
// 16 - adc_bit and divides the descriptor's codes per division by 16 for a
// 12-bit ADC: the same as the signed word over the descriptor's value, as
// the low bits of the word are 0; scopehal (SiglentSCPIOscilloscope) scales
// the signed word by 30 * 256 codes per division likewise. The timebase is
// asked for rather than looked up from the descriptor's enumerated value
// (offset 324), whose table differs between the guide's examples.
// The sign of the delay term follows the guide's newer (sequence) example
// (-delay; an older SDS2000X Plus example adds it): unverified on an
// instrument.
// Habits handled:
// - Each reply block, descriptor and data, is followed by two line feeds
//   (a published SDS814X HD script: "there are always two"; the guide's
//   example strips them): they are read by count.
// - SDS2000X HD firmware from 1.2 and SDS2000X Plus firmware up to 1.3.9R6
//   announce the samples, not the bytes, of a WORD block (scopehal's
//   "size workaround"): a WORD page whose header names its point count
//   holds twice as many bytes.
// - One :WAVeform:DATA? sends at most :WAVeform:MAXPoint? points, so a deep
//   record (10 M points) comes in pages.
// Samples: the HD models have a 12-bit ADC and are read as WORD, the
// X Plus (8-bit) as BYTE (scopehal's choice by model); the descriptor's
// sample type decides how the bytes are read.
// Run state: no begin/end of its own: the definition's [run] steps stop a
// running scope for the data (every channel from one acquisition) and run
// it again afterwards.

#include "instr/record_memory.h"
#include "instr/retrieval_block.h"
#include "instr/retrieval_io.h"
#include "instr/siglent_wavedesc.h"
#include "instr/waveform_method.h"
#include "visa/ascii.h"
#include "wavedata/waveform_preamble.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

namespace quarvel::instr {
namespace {

using wavedata::BlockQuery;
using wavedata::QueryLine;
using wavedata::SendText;

constexpr std::size_t kReplyLimit = 256;
// The descriptor and, in sequence mode, 16 bytes of time stamp per frame.
constexpr std::size_t kMaxDescriptorBytes = 65536;
constexpr std::size_t kBlockTail = 2; // two line feeds
constexpr double kHorizontalDivisions = 10.0;

// "C3" → 3; 0 for any other name.
int ChannelNumber(const std::string& name) {
    return name.size() == 2 && (name[0] == 'C' || name[0] == 'c') && name[1] >= '1' &&
                   name[1] <= '8'
               ? name[1] - '0'
               : 0;
}

// :CHANnel<n>:SWITch? answers ON or OFF (guide; scopehal asks it too).
std::vector<std::string> Active(const WaveformAccess& access,
                                const std::vector<std::string>& offered) {
    std::vector<std::string> on;
    for (const std::string& name : offered) {
        const int n = ChannelNumber(name);
        std::string state;
        if (n > 0 &&
            wavedata::QueryWord(access.session, ":CHAN" + std::to_string(n) + ":SWIT?\n",
                                kReplyLimit, state) &&
            ascii::EqualsIgnoringCase(state, "ON"))
            on.push_back(name);
    }
    return on;
}

// The HD models digitise with 12 bits, which only WORD samples carry.
bool TwelveBitModel(const std::string& model) {
    return ascii::ToUpper(model).find("HD") != std::string::npos;
}

bool QueryNumber(ViSession session, const std::string& query, double& value) {
    std::string reply;
    return QueryLine(session, query, kReplyLimit, reply) && ::ReadLeadingReal(reply, value) &&
           std::isfinite(value);
}

bool Read(const WaveformAccess& access, WaveformCaptureState&, const std::string& channel,
          WaveformRecord& out, std::string& why) {
    const ViSession session = access.session;
    const bool word = TwelveBitModel(access.model);
    if (!SendText(session, ":WAV:SOUR " + channel + "\n") ||
        !SendText(session, word ? ":WAV:WIDT WORD\n" : ":WAV:WIDT BYTE\n") ||
        !SendText(session, ":WAV:STAR 0\n") || !SendText(session, ":WAV:POIN 0\n")) {
        why = "the waveform set-up could not be sent";
        return false;
    }
    std::vector<std::uint8_t> block;
    std::string blockWhy;
    const BlockQuery preamble{.command = ":WAV:PRE?\n",
                              .maxBytes = kMaxDescriptorBytes,
                              .timeoutMs = access.transferTimeoutMs,
                              .tailBytes = kBlockTail};
    if (!wavedata::QueryDataBlock(session, preamble, block, blockWhy)) {
        why = "the preamble: " + blockWhy;
        return false;
    }
    wavedata::SiglentWaveDesc d;
    if (!wavedata::ParseSiglentWaveDesc(block, d, why))
        return false;
    double timebase = 0.0;
    double maxPoints = 0.0;
    if (!QueryNumber(session, ":TIM:SCAL?\n", timebase) ||
        !QueryNumber(session, ":WAV:MAXP?\n", maxPoints) || maxPoints < 1.0) {
        why = "the timebase or the most points a transfer (:WAV:MAXP?) did not read as a number";
        return false;
    }
    std::uint32_t page = maxPoints >= d.points ? d.points : static_cast<std::uint32_t>(maxPoints);
    if (access.definition.waveformPagePoints > 0)
        page = std::min(page, access.definition.waveformPagePoints);
    const std::size_t sampleBytes = d.wordSamples ? 2 : 1;
    const double firstTime = -d.delay - timebase * kHorizontalDivisions / 2.0;

    // Each page's points are made while it comes (instr/record_memory.h).
    const wavedata::PrefaultedRecordMemory memory(out, d.points);
    const double interval = d.interval;
    const auto time = [firstTime, interval](std::size_t i) {
        return firstTime + static_cast<double>(i) * interval;
    };
    const double voltsPerCode = d.voltsPerDivision / d.codesPerDivision;
    const double offset = d.offset;
    const auto byteVolts = [voltsPerCode, offset](const std::uint8_t* b) {
        return static_cast<std::int8_t>(b[0]) * voltsPerCode - offset;
    };
    const auto lsbFirstVolts = [voltsPerCode, offset](const std::uint8_t* b) {
        return static_cast<std::int16_t>(b[1] << 8 | b[0]) * voltsPerCode - offset;
    };
    const auto msbFirstVolts = [voltsPerCode, offset](const std::uint8_t* b) {
        return static_cast<std::int16_t>(b[0] << 8 | b[1]) * voltsPerCode - offset;
    };
    const auto askForPage = [&](std::uint32_t first) {
        const std::uint32_t count = std::min(page, d.points - first);
        return SendText(session, ":WAV:STAR " + std::to_string(first) + "\n") &&
               SendText(session, ":WAV:POIN " + std::to_string(count) + "\n") &&
               SendText(session, ":WAV:DATA?\n");
    };
    // One page read and converted; the next is asked for before the rest of
    // this one is converted.
    const auto readPage = [&](std::uint32_t first, auto volts) {
        const std::uint32_t count = std::min(page, d.points - first);
        wavedata::ArrivingPoints arriving(out, first, count, sampleBytes, time, volts);
        const BlockQuery data{.command = {},
                              .maxBytes = count * sampleBytes,
                              .timeoutMs = access.transferTimeoutMs,
                              .tailBytes = kBlockTail,
                              .samples = count,
                              .sampleBytes = sampleBytes,
                              .received = std::ref(arriving)};
        blockWhy.clear();
        if (!wavedata::ReadDataBlock(session, data, block, blockWhy) ||
            block.size() != count * sampleBytes) {
            why = "points " + std::to_string(first + 1) + " to " + std::to_string(first + count) +
                  ": " +
                  (blockWhy.empty()
                       ? "the page brought " + std::to_string(block.size() / sampleBytes) +
                             " of its " + std::to_string(count) + " points"
                       : blockWhy);
            return false;
        }
        const bool more = first + count < d.points;
        if (more && access.Cancelled()) {
            why = "cancelled after point " + std::to_string(first + count);
            return false;
        }
        if (more && !askForPage(first + count)) {
            why =
                "the page after point " + std::to_string(first + count) + " could not be asked for";
            return false;
        }
        arriving.Finish(block);
        return true;
    };
    if (!askForPage(0)) {
        why = "the first page could not be asked for";
        return false;
    }
    for (std::uint32_t first = 0; first < d.points; first += page) {
        const bool read = !d.wordSamples ? readPage(first, byteVolts)
                          : d.msbFirst   ? readPage(first, msbFirstVolts)
                                         : readPage(first, lsbFirstVolts);
        if (!read)
            return false;
    }
    out.name = channel;
    out.xLabel = "time/s";
    out.yLabel = "voltage/V";
    return true;
}

} // namespace

const WaveformMethod& SiglentWaveDescWaveformMethod() {
    static const WaveformMethod method{.name = "siglent-wavedesc",
                                       .begin = nullptr,
                                       .end = nullptr,
                                       .active = Active,
                                       .read = Read};
    return method;
}

} // namespace quarvel::instr
