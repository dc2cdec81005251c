#pragma once

// Waveform data of the simulated Tektronix oscilloscopes (the TDS3000 and the
// tek-mso, tek-mdo and tek-tbs personas): which sources are on (SELect:<source>
// or DISplay:GLObal:<source>:STATE), the DATa settings (source, encoding,
// width, start, stop), the preamble (WFMPre? or WFMOutpre?) with its fields
// named when headers are on, short names with VERBose off, and CURVe? as a
// block of signed or unsigned bytes or words in either byte order, or of
// 4-byte floats for a math source where the model sends those. The channel
// samples are the traces of the served picture; MATH is CH1 + CH2 and a REF
// holds CH1's waveform, both off until switched on.
//
// Simulator options that shape it (sim/sim_options.cpp):
//   --waveform-points N      record length (TDS3000 10 000, tek-mso/-mdo 10 000;
//                            the tek-tbs record is always 2 500)
//   --tektronix-curve-junk   TDS3000: NULs and text after the CURVe? block
//   --tektronix-no-wfid      TDS3000: the preamble without its WFId field
//   --habit curve-junk=on|off, --habit wfid=on|off: the same for the newer personas
// Test-only commands: ":SIMulate:PREamble:BREak <source>" (that source's
// preamble has no readable YMULT), ":SIMulate:CURVe:SHORt <source>" (its
// CURVe? block holds half the points its preamble announces).

#include "sim/command_table.h"

#include <functional>
#include <string>

namespace quarvel::sim {

struct TekWaveformSetup {
    enum class Preamble {
        WfmPre,         // TDS 1000/2000/3000, TBS: WFMPre?, 16 fields
        WfmOutpre,      // MDO/MSO/DPO 2000-4000: WFMOutpre?, 17 fields (PT_ORder added)
        WfmOutpreSeries // MSO 4/5/6: WFMOutpre?, 22 fields (ASC_Fmt, DOMain, WFMTYPe, ...)
    };
    Preamble preamble = Preamble::WfmPre;
    int analogChannels = 4;
    std::string mathName;           // "MATH" or "MATH1"; "" when there is no math source
    bool floatMath = false;         // math sent as 4-byte floats (4/5/6 Series)
    int references = 0;             // REF1 .. REF<references>
    bool displayGlobal = false;     // DISplay:GLObal:<source>:STATE, else SELect:<source>
    bool recordLengthQuery = false; // HORizontal:RECOrdlength?
    // Bits a sample has: 8 (two-byte codes are the byte times 256, as the TDS
    // manuals describe) or 16 (every bit of a word carries data).
    int sampleBits = 8;
    long long recordPoints = 10000;
    long long maxStop = 1LL << 31; // DATa:STOP above this: -222 (TDS 1000/2000: 2500)
    std::function<bool()> headers; // HEADer of the family
    std::function<bool()> verbose; // VERBose of the family (null: always long names)
    bool noWaveformId = false;     // habit: the preamble without WFId
    bool curveJunk = false;        // habit: NULs and text after the CURVe? block
};

void AddTektronixWaveforms(CommandTable& table, const TekWaveformSetup& setup);

} // namespace quarvel::sim
