#pragma once

// Waveform data of the simulated Tektronix TDS3000: SELect:CH<n>, the DATa
// settings (source, encoding, width, start, stop), WFMPre? with named
// fields when headers are on, and CURVe? as a block of signed bytes
// (RIBinary) or words. The samples are the traces of the served hardcopy.
//
// Simulator options that shape it (sim/sim_options.cpp):
//   --waveform-points N      record length (default 10 000, the TDS3000's long record)
//   --tektronix-curve-junk   NULs and text after the CURVe? block, before its line feed
//   --tektronix-no-wfid      WFMPre? without its WFId field
//   --tektronix-headers      HEADer ON from the start

namespace quarvel::sim {

class TektronixSim;
struct QuirkOptions;

void AddTektronixWaveforms(TektronixSim& scope, const QuirkOptions& quirks);

} // namespace quarvel::sim
