// Waveform data of the Rigol DHO800, DHO900, DHO1000 and DHO4000
// oscilloscopes (definition rigol-dho.toml), after the DHO800/900 and
// DHO1000/4000 Programming Guides (:WAVeform commands, as on the DS1000Z):
//   :WAVeform:SOURce CHANnel<n>, :WAVeform:MODE RAW, :WAVeform:FORMat WORD
//   (the 12-bit samples in 16-bit words, least significant byte first, as
//   pymeasure's rigol_dho804.py reads them; the byte order is unverified
//   against the guide), :WAVeform:PREamble?,
//   :ACQuire:MDEPth? (the record length), then pages :WAVeform:STARt /
//   :WAVeform:STOP of the definition's page_points, each :WAVeform:DATA?;
//   scaled as on the DS1000Z (instr/rigol_waveform.h).
// Habits handled:
// - The preamble's point count is the page, not the memory depth
//   (scopehal's RigolOscilloscope.cpp reads :ACQ:MDEP? instead, and so does
//   pymeasure for RAW): the record length is :ACQ:MDEP?.
// - An x increment of 0 (scopehal skips such a waveform): that channel is
//   left out with the reason, the others are read.
// - :WAV:XREF? is always 0 on the DHO1000/4000 (their guide; scopehal pull
//   request 882 takes the time from :WAV:XORigin?): the preamble's x
//   reference is used as it comes, 0 making t = i * xinc + xorigin.
// Unverified: the largest page the firmware gives in WORD format (scopehal
// reads the DHO in 250 000-point BYTE pages; the definition asks for that).
// Run state: as the MSO5000, the definition's [run] steps around the read.

#include "instr/retrieval_io.h"
#include "instr/rigol_waveform.h"
#include "instr/waveform_method.h"
#include "wavedata/waveform_preamble.h"

#include <cmath>

namespace quarvel::instr {
namespace {

constexpr std::uint32_t kDefaultPagePoints = 250000;

// :ACQ:MDEP? as a point count ("1.0000E+06"); false with the reason.
bool QueryMemoryDepth(ViSession session, std::uint32_t& points, std::string& why) {
    std::string reply;
    double depth = 0.0;
    if (!quarvel::wavedata::QueryLine(session, ":ACQ:MDEP?", 256, reply) ||
        !ReadLeadingReal(reply, depth) || !(depth >= 1) || depth != std::floor(depth)) {
        why = "the memory depth reply '" + reply.substr(0, 40) + "' is no point count";
        return false;
    }
    if (depth > kRigolMaxPoints) {
        why = "the memory depth of " + reply + " points is more than the " +
              std::to_string(kRigolMaxPoints) + " a capture holds";
        return false;
    }
    points = static_cast<std::uint32_t>(depth);
    return true;
}

bool ReadDho(const WaveformAccess& access, WaveformCaptureState&, const std::string& channel,
             WaveformRecord& out, std::string& why) {
    const ViSession session = access.session;
    quarvel::wavedata::TenFieldPreamble preamble;
    if (!SelectRigolSource(session, channel, "RAW", "WORD")) {
        why = "the waveform set-up or preamble query failed";
        return false;
    }
    std::uint32_t points = 0;
    if (!QueryRigolPreamble(session, kRigolMaxPoints, preamble, why) ||
        !QueryMemoryDepth(session, points, why))
        return false;
    const std::uint32_t page = access.definition.waveformPagePoints;
    const RigolPageRead read{
        .points = points,
        .pagePoints = page > 0 ? page : kDefaultPagePoints,
        .sampleBytes = 2,
        .timeoutMs = access.transferTimeoutMs,
        .beforeData = {},
        .cancelled = [&access] { return access.Cancelled(); },
    };
    return ReadRigolPages(session, read, preamble, channel, out, why);
}

} // namespace

const WaveformMethod& RigolDhoWaveformMethod() {
    static const WaveformMethod method{.name = "rigol-dho", .read = ReadDho};
    return method;
}

} // namespace quarvel::instr
