// Waveform methods of the Tektronix families that are definitions, one
// protocol (DATa:SOUrce, the preamble, CURVe?; instr/tek_curve.h) in the
// three forms their programmer manuals give:
//
// "tektronix-wfmoutpre-global" — MSO 2/4/5/6 Series (4/5/6 Series MSO
//   programmer manual, Waveform Transfer group and Appendix D):
//   DATa:ENCdg SRIbinary (signed, least significant byte first), DATa:WIDth 2
//   (the 12-bit samples whole; scopehal's TektronixOscilloscope reads MSO5/6
//   so), DATa:STARt 1, DATa:STOP <HORizontal:RECOrdlength?> ("setting
//   DATa:STARt to 1 and DATa:STOP to the record length will always return the
//   entire waveform"; Tektronix's mdo_simple_plot.py does the same),
//   WFMOutpre?, CURVe?. A source is on when DISplay:GLObal:<source>:STATE?
//   answers 1 (the manual; Tektronix's tm_devices/visadore curve feature asks
//   it before every CURVe?, as WFMOutpre? of a source without data times out).
//   MATH<x> and a REF saved from one come as 4-byte floats whatever the width
//   ("When a MATH (or REF that came from a MATH) is used, 32-bit floating
//   point values are used"): the preamble's BN_FMT FP says so.
// "tektronix-wfmoutpre-select" — MDO3000/4000, MSO/DPO2000-4000 (MDO3000 and
//   MSO/DPO4000B programmer manuals): the same transfer with DATa:WIDth 1 (8-bit
//   samples: "all data points for DPO and MSO models are signed integer";
//   widths 1 and 2 for CH1-CH4, MATH and REF1-REF4); a source is on when
//   SELect:<source>? answers 1.
// "tektronix-wfmpre" — TBS1000/2000, TDS1000/2000 (TDS200/1000/2000 and TBS1000
//   programmer manual 077-0444, Waveform commands; Tektronix's
//   tbs_simple_plot.py): DATa:ENCdg RIBinary, DATa:WIDth 1 (the scope keeps
//   one byte a point), DATa:STARt 1, DATa:STOP 2500 ("always sends the entire
//   waveform, regardless of the acquisition mode"), WFMPre? (these models
//   have no WFMOutpre?), CURVe?; SELect:CH<x>?.
//
// The preamble is asked with HEADer 1 (and VERBose 1 on the WFMOutpre?
// families, the form of the manuals' Appendix D example) so that it names its
// fields: with HEADer 0, as scopehal sends it, the preamble is a bare list of
// 22 to 24 values read by position, which a missing WFID shifts. The
// settings found are put back afterwards. Bytes after the CURVe? block
// (scopehal reads and drops "garbage at the end of the message" on MSO5/6)
// are read up to the reply's end by the block reader.
//
// Run state: the acquisition is stopped for the transfer when it ran
// (ACQuire:STATE? then ACQuire:STATE STOP; the manuals advise a stopped or
// single acquisition before CURVe? so every source comes from one record) and
// started again afterwards with ACQuire:STATE RUN, which keeps the
// ACQuire:STOPAfter mode the instrument had (visadore restores the state it
// found the same way).

#include "instr/retrieval_io.h"
#include "instr/scope_models.h"
#include "instr/tek_curve.h"
#include "instr/waveform_method.h"
#include "wavedata/waveform_preamble.h"

namespace quarvel::instr {
namespace {

using wavedata::QueryInt32;
using wavedata::QueryLine;
using wavedata::SendText;

constexpr const char* kStop = "ACQuire:STATE STOP";
constexpr const char* kRun = "ACQuire:STATE RUN";
// Points of a TBS/TDS 1000/2000 record (programmer manual: "stores
// waveforms that are <=2500 data points long").
constexpr int kTbsRecordPoints = 2500;

// The definition's channels this model has: CH<n> up to the model's channel
// count; MATH and REF sources whatever the model.
std::vector<std::string> ModelChannels(const WaveformAccess& access,
                                       const std::vector<std::string>& channels) {
    const int count = ChannelCountOfTektronixModel(access.model);
    std::vector<std::string> out;
    for (const std::string& name : channels) {
        const bool analog =
            name.size() == 3 && name.starts_with("CH") && name[2] >= '1' && name[2] <= '9';
        if (!analog || name[2] - '0' <= count)
            out.push_back(name);
    }
    return out;
}

// The sources among `offered` whose state query answers non-zero; one whose
// query fails counts as off.
std::vector<std::string> SourcesOn(ViSession session, const std::vector<std::string>& offered,
                                   const std::string& prefix, const std::string& suffix) {
    std::vector<std::string> out;
    for (const std::string& name : offered) {
        std::int32_t on = 0;
        if (QueryInt32(session, prefix + name + suffix + "\n", on) && on != 0)
            out.push_back(name);
    }
    return out;
}

std::vector<std::string> DisplayedGlobally(const WaveformAccess& access,
                                           const std::vector<std::string>& offered) {
    return SourcesOn(access.session, offered, "DISplay:GLObal:", ":STATE?");
}

std::vector<std::string> Selected(const WaveformAccess& access,
                                  const std::vector<std::string>& offered) {
    return SourcesOn(access.session, offered, "SELect:", "?");
}

// The record length (HORizontal:RECOrdlength?); when it cannot be read, the
// largest record a capture takes, which the instrument cuts to its record.
long long RecordLength(ViSession session) {
    std::string reply;
    std::int64_t points = 0;
    if (QueryLine(session, "HORizontal:RECOrdlength?\n", 64, reply) &&
        ReadLeadingInteger(reply, points) && points >= 1)
        return points;
    return MAX_WAVEFORM_POINTS;
}

bool BeginTransfer(const WaveformAccess& access, WaveformCaptureState& state, bool verbose,
                   const std::string& encoding, int width, long long stop) {
    const ViSession s = access.session;
    state.restore = wavedata::TekPreambleHeadersOn(s, verbose);
    state.stoppedForData = wavedata::StopTekAcquisition(s, kStop);
    return SendText(s, "DATa:ENCdg " + encoding + "\n") &&
           SendText(s, "DATa:WIDth " + std::to_string(width) + "\n") &&
           SendText(s, "DATa:STARt 1\n") && SendText(s, "DATa:STOP " + std::to_string(stop) + "\n");
}

bool BeginMso(const WaveformAccess& access, WaveformCaptureState& state) {
    return BeginTransfer(access, state, true, "SRIbinary", 2, RecordLength(access.session));
}

bool BeginMdo(const WaveformAccess& access, WaveformCaptureState& state) {
    return BeginTransfer(access, state, true, "SRIbinary", 1, RecordLength(access.session));
}

bool BeginTbs(const WaveformAccess& access, WaveformCaptureState& state) {
    return BeginTransfer(access, state, false, "RIBinary", 1, kTbsRecordPoints);
}

bool End(const WaveformAccess& access, WaveformCaptureState& state) {
    bool ok = true;
    if (state.stoppedForData)
        ok = SendText(access.session, std::string(kRun) + "\n");
    if (!state.restore.empty())
        ok = SendText(access.session, state.restore + "\n") && ok;
    state = {};
    return ok;
}

bool ReadSource(const WaveformAccess& access, const std::string& channel,
                const std::string& preambleQuery, WaveformRecord& out, std::string& why) {
    if (!SendText(access.session, "DATa:SOUrce " + channel + "\n")) {
        why = "the source could not be chosen";
        return false;
    }
    return wavedata::ReadTekCurve(access.session, preambleQuery, access.transferTimeoutMs, channel,
                                  out, why);
}

bool ReadWfmOutpre(const WaveformAccess& access, WaveformCaptureState&, const std::string& channel,
                   WaveformRecord& out, std::string& why) {
    return ReadSource(access, channel, "WFMOutpre?\n", out, why);
}

bool ReadWfmPre(const WaveformAccess& access, WaveformCaptureState&, const std::string& channel,
                WaveformRecord& out, std::string& why) {
    return ReadSource(access, channel, "WFMPre?\n", out, why);
}

} // namespace

const WaveformMethod& TektronixWfmOutpreGlobalWaveformMethod() {
    static const WaveformMethod method{.name = "tektronix-wfmoutpre-global",
                                       .begin = BeginMso,
                                       .end = End,
                                       .offered = ModelChannels,
                                       .active = DisplayedGlobally,
                                       .read = ReadWfmOutpre};
    return method;
}

const WaveformMethod& TektronixWfmOutpreSelectWaveformMethod() {
    static const WaveformMethod method{.name = "tektronix-wfmoutpre-select",
                                       .begin = BeginMdo,
                                       .end = End,
                                       .offered = ModelChannels,
                                       .active = Selected,
                                       .read = ReadWfmOutpre};
    return method;
}

const WaveformMethod& TektronixWfmPreWaveformMethod() {
    static const WaveformMethod method{.name = "tektronix-wfmpre",
                                       .begin = BeginTbs,
                                       .end = End,
                                       .offered = ModelChannels,
                                       .active = Selected,
                                       .read = ReadWfmPre};
    return method;
}

} // namespace quarvel::instr
