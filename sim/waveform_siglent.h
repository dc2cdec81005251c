#pragma once

// Waveform data of the simulated Siglent SDS1000X-E (older command set):
// C<n>:TRAce, C<n>:VDIV?, C<n>:OFST?, TDIV?, SARA?, TRDL?, WFSU and
// C<n>:WF? DAT2, whose reply is "C<n>:WF DAT2,#9<length><data>" and two line
// feeds, the data signed bytes (code = V / (VDIV / 25) + OFST / (VDIV / 25)).
// The samples are the traces of the served screen image.
//
// Simulator options that shape it (sim/sim_options.cpp):
//   --waveform-points N   record length (default 140 000: 14 div at
//                         100 µs/div and 100 MSa/s)

namespace quarvel::sim {

class SiglentSim;
struct QuirkOptions;

void AddSiglentWaveforms(SiglentSim& scope, const QuirkOptions& quirks);

} // namespace quarvel::sim
