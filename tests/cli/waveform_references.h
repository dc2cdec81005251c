#pragma once

// What each family's manual says its waveform bytes mean, for the waveform
// tests of quarvel-cli: each reference reads the codes and scale the
// simulator serves through the test's own VISA session (ScopePanel) and
// computes time and voltage with the manual's formula, never through a
// driver's conversion.

#include "tests/cli/waveform_cli_fixture.h"

namespace quarvel::test {

// The Rigol guides' formula (DS1000Z, MSO5000 and DHO Programming Guides,
// :WAVeform:DATA? and :WAVeform:PREamble?), read stopped in RAW mode:
//   V = (code - yorigin - yreference) * yincrement
//   t = (i - xreference) * xincrement + xorigin
// The record in pages of `page` points (0: one block); WORD codes are 16 bits
// little-endian, and their record length comes from :ACQ:MDEP? (the DHO's
// preamble counts only a page).
struct RigolRead {
    bool word = false;
    long page = 0;
};
Reference RigolReference(RigolRead read);

// SDS1000X-E Programming Guide, WF? and its example: V = code * VDIV / 25 -
// OFST with the code a signed byte (two's complement: minus 256, where the
// guide's text says 255); t = TRDL - TDIV * 14 / 2 + i / SARA.
Reference SiglentReference();

// The SDS HD / X Plus programming guide's example, with its own paging of
// :WAV:MAXP? points: descriptor offsets, 16-bit words shifted to the ADC's
// bits, codes per division over 16 for a 12-bit ADC,
// t = -(tdiv * 10 / 2) + i * interval - delay. The header of a WORD page
// must count points (word-count=points firmware) or bytes.
struct SiglentHdRead {
    bool word = false;
    bool headerCountsPoints = false;
};
Reference SiglentHdReference(SiglentHdRead read);

// The Tektronix programmer manuals (TDS3000, TBS, MDO, MSO 2/4/5/6; CURVe?
// and WFMOutpre?/WFMPre?): the curve decoded as the preamble describes it
// (BYT_NR, BN_FMT RI/RP/FP, BYT_OR) and scaled with
//   V = (code - YOFF) * YMULT + YZERO,  t = XZERO + (i - PT_OFF) * XINCR
struct TekTransfer {
    const char* preambleQuery; // WFMOutpre? or WFMPre?
    const char* encoding;      // SRIbinary (least significant byte first) or RIBinary
    int width;
    const char* stop = nullptr; // DATa:STOP; nullptr: HORizontal:RECOrdlength?
};
Reference TektronixReference(TekTransfer transfer);

// Infiniium Programmer's Guide, :WAVeform:DATA? and :WAVeform:PREamble?:
// V = (code - yreference) * yincrement + yorigin with WORD codes signed
// 16-bit, least significant byte first; t = (i - xreference) * xincrement +
// xorigin.
Reference InfiniiumReference();

// The R&S user manuals (RTB2000, RTA4000, MXO 4): stopped (MAX gives the
// memory only when stopped), REAL,32 in the byte order the scope reports;
// time of sample n = XStart + n * (XStop - XStart) / (length - 1). The MXO
// has no DATA:POINts. Afterwards the scope runs again in ASCII format.
struct RsRead {
    bool mxo = false;
};
Reference RsReference(RsRead read);

} // namespace quarvel::test
