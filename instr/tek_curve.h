#pragma once

// The Tektronix waveform transfer every Tektronix family shares (TDS 3000,
// MSO 2/4/5/6, MDO/MSO/DPO 2000-4000, TBS/TDS 1000/2000): the preamble of the
// source DATa:SOUrce names, read by field name (instr/tek_preamble.h), then
// the CURVe? block, converted with the programmer manuals' formula
//   V = (code - YOFf) * YMUlt + YZEro;  t = XZEro + (i - PT_Off) * XINcr
// Only the preamble query (WFMPre? or WFMOutpre?), the encoding and which
// channels are on differ between the families.

#include "visa/visa.h"
#include "wavedata/waveform_record.h"

#include <string>

namespace quarvel::wavedata {

// Sends HEADer 1, and VERBose 1 when `verbose`, so that the preamble names
// each of its fields (with headers off it is a bare list of values, readable
// only by position, which differs between models and firmware). Returns the
// command that puts back the settings found ("HEADer 0;:VERBose 1"), "" when
// none could be read.
std::string TekPreambleHeadersOn(ViSession session, bool verbose);

// Asks ACQuire:STATE? and, when the acquisition runs, sends `stop`
// ("ACQuire:STATE STOP"). True when it ran and was stopped: the caller runs
// it again after the transfer.
bool StopTekAcquisition(ViSession session, const std::string& stop);

// Reads the source chosen before with DATa:SOUrce: `preambleQuery`, then
// CURVe? under `timeoutMs`, into `out` named `channel`. Integer codes of one
// or two bytes, signed or not, either byte order, and 4-byte floats (BN_Fmt
// FP: MATH on the 4/5/6 Series), as the preamble says. False with the reason
// in `why`; a curve shorter than the preamble announced gives no record.
bool ReadTekCurve(ViSession session, const std::string& preambleQuery, ViUInt32 timeoutMs,
                  const std::string& channel, WaveformRecord& out, std::string& why);

} // namespace quarvel::wavedata
