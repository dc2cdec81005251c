#pragma once

// Waveform data of the simulated InfiniiVision oscilloscopes: channel and pod
// display states, time base range, acquisition points, rate and type, the
// :WAVeform set-up, preamble and data blocks generated from simple signals
// (sines and a square on the channels, a counter on the pods).
//
// Besides the instrument's own commands, a few :SIMulate commands change
// what the simulated scope reports, so tests can reach replies a real
// instrument gives rarely:
//   :SIMulate:WAVeform:POINts <n>      record length when stopped (1..8000000)
//   :SIMulate:PREamble:POINts <n>      points the preamble claims (0: the true count)
//   :SIMulate:SRATe:REPLy '<text>'     the :ACQuire:SRATe? reply ('' : the true rate)
//   :SIMulate:STATus:FAIL '<name>'     :STATus? <name> answers a non-number ('' : none)

namespace quarvel::sim {

class InfiniiVisionSim;

void AddInfiniiVisionWaveforms(InfiniiVisionSim& scope);

} // namespace quarvel::sim
