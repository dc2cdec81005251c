// Peak resident memory while one 8 000 000-point WORD channel is read from
// quarvel-sim into the record list and written as a Kst dirfile: the path
// a large capture takes, with the record moved (never copied) into the list
// and the dirfile written straight from it. Prints the peak (VmHWM) before
// and after; the record alone is 128 MB (122 MiB).

#include "bench/bench_sim.h"
#include "capture/waveform_capture.h"
#include "instr/instr_connection.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Kilobytes of a /proc/self/status field such as "VmHWM:".
long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
        }
    }
    return -1;
}

struct Outcome {
    bool ok = false;
    std::size_t samples = 0;
    double seconds = 0;
};

Outcome CaptureLargeChannel(int port, const std::string& dirfile) {
    Outcome outcome;
    CInstrConnection connection;
    if (!connection.Open("TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET") ||
        !connection.QueryIdn() || !connection.CreateDriver()) {
        return outcome;
    }
    CInstrLL& driver = *connection.GetDriver();
    ChannelList names;
    driver.GetChannelList(names);
    viPrintf(connection.GetSession(),
             ":STOP;:SIMulate:WAVeform:POINts 8000000;:ACQuire:TYPE AVERage\n");

    const auto start = std::chrono::steady_clock::now();
    WaveformRecordList records;
    CaptureWaveforms(driver, {"CHAN1"}, records, {});
    outcome.ok = records.size() == 1 && SaveWaveforms(records, DataFormat::Dirfile, dirfile, {});
    outcome.samples = records.empty() ? 0 : records.front().y.size();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    const quarvel::bench::BenchSim sim({"--instrument", "infiniivision-x", "--socket-port", "0",
                                        "--portmapper-port", "none", "--hislip-port", "none"},
                                       {"socket"});
    if (sim.Port("socket") == 0) {
        std::fprintf(stderr, "quarvel-sim did not start\n");
        return 1;
    }
    const std::string dirfile = std::filesystem::temp_directory_path().string() +
                                "/quarvel-memory-bench-" + std::to_string(getpid());
    const long before = StatusKilobytes("VmHWM:");
    const Outcome outcome = CaptureLargeChannel(sim.Port("socket"), dirfile);
    const long after = StatusKilobytes("VmHWM:");
    std::error_code ignored;
    std::filesystem::remove_all(dirfile, ignored);
    if (!outcome.ok) {
        std::fprintf(stderr, "the capture failed\n");
        return 1;
    }
    const double recordMib = outcome.samples * 16.0 / (1024.0 * 1024.0);
    std::printf("one WORD channel of %zu samples read and written as a dirfile in %.2f s\n",
                outcome.samples, outcome.seconds);
    std::printf(
        "peak resident memory: %.1f MiB before, %.1f MiB after (target < 200 MB = %.1f MiB); "
        "record %.1f MiB; peak / record = %.2f\n",
        before / 1024.0, after / 1024.0, 200e6 / (1024.0 * 1024.0), recordMib,
        after / 1024.0 / recordMib);
    benchmark::Initialize(&argc, argv);
    benchmark::Shutdown();
    return after * 1024.0 < 200e6 ? 0 : 3;
}
