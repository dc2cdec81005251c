#pragma once

// The Tektronix waveform preamble (WFMPre? on TDS, WFMOutpre? on the newer
// models) read by field name, not position: the number and order of fields
// differ between models and firmware (WFId is sometimes missing), and
// names come in long or short form ("XINCR", "XIN") depending on VERBose.
// Reply headers on or off: ":WFMPRE:BYT_NR 1;BIT_NR 8;...;YOFF 0.0E0".

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel::wavedata {

struct TekPreamble {
    std::uint32_t points = 0;    // NR_Pt
    std::uint32_t byteWidth = 0; // BYT_Nr
    bool signedCodes = true;     // BN_Fmt RI (RP: unsigned)
    bool floatCodes = false;     // BN_Fmt FP: 4-byte IEEE floats (MATH on the 4/5/6 Series)
    bool msbFirst = true;        // BYT_Or MSB
    double xIncrement = 0.0;     // XINcr
    double xZero = 0.0;          // XZEro
    double pointOffset = 0.0;    // PT_Off (0 when absent)
    double yMultiplier = 0.0;    // YMUlt
    double yZero = 0.0;          // YZEro
    double yOffset = 0.0;        // YOFf
};

// False with the reason in `why` when a needed field (NR_Pt, XINcr, XZEro,
// YMUlt, YZEro, YOFf) is missing or unreadable, or the width does not fit
// the format: BYT_Nr 1 or 2 for integers, 4 for BN_Fmt FP.
bool ParseTekPreamble(std::string_view text, TekPreamble& out, std::string& why);

} // namespace quarvel::wavedata
