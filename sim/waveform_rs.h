#pragma once

// Waveform data of the simulated Rohde & Schwarz oscilloscopes (rs-rtb:
// RTB2000, RTM3000, RTA4000 and, by model, MXO 4/5), as their user manuals
// describe it: CHANnel<m>:STATe, FORMat[:DATA] ASCii|REAL,32,
// FORMat:BORDer LSBFirst|MSBFirst, CHANnel<m>:DATA:POINts DEF|MAX|DMAX (not
// on the MXO), CHANnel<m>:DATA:HEADer? and CHANnel<m>:DATA[:VALues]?. The
// samples are the traces of the served screen image in volts, taken from the
// acquisition, so they are the same whether the remote display is frozen or
// not.
//
// The record length when stopped is --waveform-points (default 10 000).
// While running, and with DATA:POINts DEF, the RTB family gives the 1 000
// points of the screen (RTB2000 manual: "If the acquisition is running, DEF
// is always used"). A channel that is off answers a header with record
// length 0 and an empty block with error -221.
//
// Habit (sim/family_rs_rtb.cpp): byte-order=msb|lsb, FORMat:BORDer at
// power-on (msb, as the R&S RTA example shows). Test-only command:
//   SIMulate:FAULt <n>,HEADer|SHORt|NAN   channel n's header does not parse,
//                                         its block holds one value fewer
//                                         than the header says, or its fifth
//                                         value is not a number (0: none)

namespace quarvel::sim {

class RsRtbSim;
struct InstrumentSetup;

void AddRsWaveforms(RsRtbSim& scope, const InstrumentSetup& setup, bool mxo);

} // namespace quarvel::sim
