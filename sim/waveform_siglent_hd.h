#pragma once

// Waveform data of the simulated Siglent SDS HD / X Plus (siglent-hd):
// :CHANnel<n>:SWITch, :WAVeform:SOURce, :WAVeform:WIDTh BYTE|WORD,
// :WAVeform:STARt, :WAVeform:POINt, :WAVeform:MAXPoint?, :TIMebase:SCALe?,
// :WAVeform:PREamble? (the 346-byte WAVEDESC descriptor in a "#9" block)
// and :WAVeform:DATA?, each block followed by two line feeds. The samples
// are the traces of the served screen image: signed bytes at 30 codes a
// division, or on the 12-bit HD models the 12-bit code in the high bits of
// a little-endian word (7680 codes a division in the descriptor).
//
// Shaped by (sim/sim_options.cpp, sim/family_siglent_hd.cpp):
//   --waveform-points N   record length (default 1 000 000)
//   --waveform-page N     :WAVeform:MAXPoint?, the most points one
//                         :WAVeform:DATA? sends (default 5 000 000, so a
//                         10 M record comes in two pages)
//   --habit word-count=points|bytes   what a WORD block's header counts
// Faults for tests: :SIMulate:PREamble:FAIL <n> (channel n's descriptor
// loses its name), :SIMulate:DATA:SHORt <n> (channel n's pages each lack
// their last point); 0 turns either off.

namespace quarvel::sim {

class SiglentHdSim;
struct InstrumentSetup;

void AddSiglentHdWaveforms(SiglentHdSim& scope, const InstrumentSetup& setup);

} // namespace quarvel::sim
