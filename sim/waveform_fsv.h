#pragma once

// Trace data of the simulated R&S FSV: six traces with display state, trace
// mode and detector, the power unit, the averaging type, the data format,
// and TRACe:DATA? / TRACe:DATA:X? as little-endian float32 blocks
// (691 points by default) of a generated spectrum.
//
// :SIMulate commands reach replies a real analyser gives rarely:
//   :SIMulate:TRACe:LEVels:BLOCk '<header>',<n>  levels reply: the header text
//        as given, then n data bytes, then LF ('' : the true block)
//   :SIMulate:TRACe:X:BLOCk '<header>',<n>       the same for the frequencies
//   :SIMulate:QUERy:SILent '<name>'              UNIT, MODE, AVERAGE or DETECTOR
//        queries get no reply at all, as if lost ('' : all answer)

namespace quarvel::sim {

class FsvSim;

void AddFsvTraces(FsvSim& analyser);

} // namespace quarvel::sim
