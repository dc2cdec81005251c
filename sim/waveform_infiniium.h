#pragma once

// Waveform data of the simulated Keysight Infiniium: :CHANnel<n>:DISPlay,
// :WAVeform:SOURce, :WAVeform:FORMat (BYTE or WORD, signed), :WAVeform:
// BYTeorder, :WAVeform:PREamble? (its first ten fields as InfiniiVision's,
// then coupling, display ranges, date, time, frame, mode, completion,
// units and bandwidths) and :WAVeform:DATA?. The samples are the traces of
// the served screen image.
//
// Simulator options that shape it (sim/sim_options.cpp):
//   --waveform-points N   record length (default 100 000)

namespace quarvel::sim {

class InfiniiumSim;
struct QuirkOptions;

void AddInfiniiumWaveforms(InfiniiumSim& scope, const QuirkOptions& quirks);

} // namespace quarvel::sim
