// Waveform data of the Rigol MSO5000, DS/MSO7000 and MSO8000 oscilloscopes
// (definition rigol-mso5000.toml), as the MSO5000 Programming Guide
// (:WAVeform commands) describes it:
//   :WAVeform:SOURce CHANnel<n>, :WAVeform:MODE RAW (the internal memory;
//   read stopped), :WAVeform:FORMat BYTE, :WAVeform:PREamble? (the ten
//   DS1000Z fields), :WAVeform:STARt 1, :WAVeform:STOP <points>,
//   :WAVeform:DATA? -> "#9000001000..." (a 9-digit length: 100 M points and
//   more in one block), scaled as on the DS1000Z (instr/rigol_waveform.h).
// The whole memory comes in one block (scopehal pull request 360 reads it
// without paging); a definition's page_points splits it all the same.
// Habits handled:
// - :WAV:MODE and :WAV:FORM are sent again before each :WAV:DATA?: Rigol's
//   answer quoted in scopehal-apps issue 146 says they must be sent every
//   time (what resets them is unverified).
// - A data query right after a trigger (a TD reading, a stop, a single)
//   brings nothing (scopehal issue 358, fixed with *WAI in pull request 359)
//   or a block header without data (pull request 696): *OPC? is asked
//   before each :WAV:DATA?, and an empty block is asked for once more.
// Run state: the definition's [run] steps stop a running scope before the
// first channel and run it again after the last (RAW reads stopped memory).

#include "instr/retrieval_io.h"
#include "instr/rigol_waveform.h"
#include "instr/waveform_method.h"

namespace quarvel::instr {
namespace {

bool ReadMso5000(const WaveformAccess& access, WaveformCaptureState&, const std::string& channel,
                 WaveformRecord& out, std::string& why) {
    const ViSession session = access.session;
    quarvel::wavedata::TenFieldPreamble preamble;
    if (!SelectRigolSource(session, channel, "RAW", "BYTE")) {
        why = "the waveform set-up or preamble query failed";
        return false;
    }
    if (!QueryRigolPreamble(session, kRigolMaxPoints, preamble, why))
        return false;
    const std::uint32_t page = access.definition.waveformPagePoints;
    const RigolPageRead read{
        .points = preamble.points,
        .pagePoints = page > 0 ? page : preamble.points,
        .sampleBytes = 1,
        .timeoutMs = access.transferTimeoutMs,
        .beforeData =
            [session] {
                std::int32_t done = 0;
                return quarvel::wavedata::SendText(session, ":WAV:MODE RAW") &&
                       quarvel::wavedata::SendText(session, ":WAV:FORM BYTE") &&
                       quarvel::wavedata::QueryInt32(session, "*OPC?", done);
            },
        .cancelled = [&access] { return access.Cancelled(); },
    };
    return ReadRigolPages(session, read, preamble, channel, out, why);
}

} // namespace

const WaveformMethod& RigolMso5000WaveformMethod() {
    static const WaveformMethod method{.name = "rigol-mso5000", .read = ReadMso5000};
    return method;
}

} // namespace quarvel::instr
