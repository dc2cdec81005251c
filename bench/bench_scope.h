#pragma once

// A simulated oscilloscope on its SOCKET endpoint only, and a driver
// connected to it: what the waveform benchmarks read from.

#include "bench/bench_sim.h"
#include "instr/instr_connection.h"

#include <cstdio>
#include <string>
#include <vector>

namespace quarvel::bench {

// quarvel-sim's arguments for `instrument` with its SOCKET endpoint on a free
// port and no other endpoint, followed by `extra`.
inline std::vector<std::string> SocketOnlyScope(const std::string& instrument,
                                                const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--instrument",      instrument, "--socket-port", "0",
                                     "--portmapper-port", "none",     "--hislip-port", "none"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// Opens `connection` to the simulator and creates its driver; false, with a
// line on standard error, when the simulator did not start or answer.
inline bool ConnectDriver(const BenchSim& sim, CInstrConnection& connection) {
    if (sim.Port("socket") != 0 && connection.Open(sim.SocketResource()) && connection.QueryIdn() &&
        connection.CreateDriver())
        return true;
    std::fprintf(stderr, "quarvel-sim did not start or answer\n");
    return false;
}

} // namespace quarvel::bench
