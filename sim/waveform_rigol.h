#pragma once

// Waveform data of the simulated Rigol DS1000Z/DS2000: channel display
// switches and the :WAVeform subsystem of the DS1000Z programming guide
// (source, mode, format, start/stop of the page, ten-field preamble, data
// block). The samples are the traces of the served screen image.
//
// Simulator options that shape it (sim/sim_options.cpp):
//   --waveform-points N            record length when stopped (default 300 000)
//   --waveform-page N              most points one :WAV:DATA? returns
//                                  (default 250 000 BYTE, 125 000 WORD)
//   --rigol-swapped-format-codes   preamble format 1 for BYTE, 0 for WORD
//   --rigol-block-tail 0|1|3       what follows each block (as for images)
// and one test-only command:
//   :SIMulate:PREamble:FAIL <n>    channel n's preamble has no x increment (0: none)

namespace quarvel::sim {

class RigolSim;
struct QuirkOptions;

void AddRigolWaveforms(RigolSim& scope, const QuirkOptions& quirks);

} // namespace quarvel::sim
