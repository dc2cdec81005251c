// 10 M points of one channel from the rigol-mso5000 persona over SOCKET on
// loopback: what a capture into CSV costs against the bare transfer of the
// same bytes in the same run.
//   RawBlock      the :WAV:DATA? block of the channel's memory (10 MB), read
//                 by the project's block reader into one buffer.
//   Capture       the definition's method through CaptureWaveforms: set-up,
//                 preamble, the block, the 160 MB record (x and y doubles).
//   CaptureToCsv  the same, then the CSV file written (about 30 bytes a line).
// After the runs the ratios to RawBlock are printed. Then a child process
// (this program, "--peak-memory N") captures N points into CSV and reports
// its peak resident memory above what it held before, in bytes per point:
// the target is under 24. "--peak-memory 100000000" alone measures the
// deepest record a capture takes (instr/rigol_waveform.h, kRigolMaxPoints).

#include "bench/bench_ratios.h"
#include "bench/bench_scope.h"
#include "bench/bench_sim.h"
#include "capture/data_format.h"
#include "capture/waveform_capture.h"
#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "instr/retrieval_block.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr long kPoints = 10000000;

CInstrConnection* g_connection = nullptr;
std::string g_csv;

void BM_RawBlock(benchmark::State& state) {
    const ViSession session = g_connection->GetSession();
    ViInt32 done = 0;
    viQueryf(session, ":STOP;*OPC?\n", "%d", &done);
    viPrintf(session, ":WAV:SOUR CHAN1\n:WAV:STAR 1\n:WAV:STOP %ld\n", kPoints);
    std::vector<std::uint8_t> data;
    std::string why;
    const quarvel::wavedata::BlockQuery query{
        .command = ":WAV:DATA?\n", .maxBytes = kPoints, .timeoutMs = 30000};
    for (auto _ : state) {
        // The persona's settings fall back after each read (its default habit).
        viPrintf(session, ":WAV:MODE RAW\n:WAV:FORM BYTE\n");
        if (!quarvel::wavedata::QueryDataBlock(session, query, data, why) ||
            data.size() != static_cast<std::size_t>(kPoints)) {
            state.SkipWithError(why.c_str());
            break;
        }
        benchmark::DoNotOptimize(data.data());
    }
    viPrintf(session, ":RUN\n");
    state.SetBytesProcessed(state.iterations() * kPoints);
}

void Capture(benchmark::State& state, bool toCsv) {
    CInstrLL& driver = *g_connection->GetDriver();
    for (auto _ : state) {
        WaveformRecordList records;
        const std::string problems = CaptureWaveforms(driver, {"CHAN1"}, records, {});
        if (!problems.empty() || records.size() != 1 ||
            records.front().y.size() != static_cast<std::size_t>(kPoints)) {
            state.SkipWithError(problems.c_str());
            break;
        }
        if (toCsv && !SaveWaveforms(records, DataFormat::Csv, g_csv, {})) {
            state.SkipWithError("the CSV file could not be written");
            break;
        }
        benchmark::DoNotOptimize(records.front().y.data());
    }
    state.SetBytesProcessed(state.iterations() * kPoints);
}

void BM_Capture(benchmark::State& state) {
    Capture(state, false);
}
void BM_CaptureToCsv(benchmark::State& state) {
    Capture(state, true);
}

BENCHMARK(BM_RawBlock)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Capture)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CaptureToCsv)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(6.0);

// Prints the runs as usual and keeps each one's real time for the ratios.

long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
    return -1;
}

// The child's part: one capture of `points` into CSV; prints
// "<points> <peak kB before> <peak kB after> <seconds>" or fails.
int PeakMemory(long points) {
    const quarvel::bench::BenchSim sim({"--instrument", "rigol-mso5000", "--socket-port", "0",
                                        "--portmapper-port", "none", "--hislip-port", "none",
                                        "--waveform-points", std::to_string(points)},
                                       {"socket"});
    const std::string csv = std::filesystem::temp_directory_path().string() +
                            "/quarvel-rigol-mso-peak-" + std::to_string(getpid()) + ".csv";
    CInstrConnection connection;
    if (sim.Port("socket") == 0 || !connection.Open(sim.SocketResource()) ||
        !connection.QueryIdn() || !connection.CreateDriver())
        return 1;
    const long before = StatusKilobytes("VmHWM:");
    const auto start = std::chrono::steady_clock::now();
    WaveformRecordList records;
    const std::string problems = CaptureWaveforms(*connection.GetDriver(), {"CHAN1"}, records, {});
    const bool saved = records.size() == 1 && SaveWaveforms(records, DataFormat::Csv, csv, {});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = StatusKilobytes("VmHWM:");
    std::filesystem::remove(csv);
    if (!saved) {
        std::fprintf(stderr, "the capture failed: %s\n", problems.c_str());
        return 1;
    }
    std::printf("%ld %ld %ld %.2f\n", points, before, after, seconds);
    return 0;
}

// Runs this program again as "--peak-memory <points>" and reads its line.
bool MeasureInChild(long points, long& before, long& after, double& seconds) {
    const std::string command =
        "/proc/" + std::to_string(getpid()) + "/exe --peak-memory " + std::to_string(points);
    FILE* child = popen(command.c_str(), "r");
    if (child == nullptr)
        return false;
    long measured = 0;
    const int fields = std::fscanf(child, "%ld %ld %ld %lf", &measured, &before, &after, &seconds);
    return pclose(child) == 0 && fields == 4 && measured == points;
}

void ReportPeakMemory(long points) {
    long before = 0;
    long after = 0;
    double seconds = 0;
    if (!MeasureInChild(points, before, after, seconds)) {
        std::printf("peak memory: the child's capture of %ld points failed\n", points);
        return;
    }
    const double bytesPerPoint = (after - before) * 1024.0 / static_cast<double>(points);
    std::printf("peak resident memory of a %ld-point capture into CSV (%.1f s): %.1f MiB before, "
                "%.1f MiB at its peak; %.2f bytes a point above the start (target < 24)\n",
                points, seconds, before / 1024.0, after / 1024.0, bytesPerPoint);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peak-memory") == 0)
        return PeakMemory(std::atol(argv[2]));
    {
        const quarvel::bench::BenchSim sim(
            quarvel::bench::SocketOnlyScope("rigol-mso5000",
                                            {"--waveform-points", std::to_string(kPoints)}),
            {"socket"});
        CInstrConnection connection;
        if (!quarvel::bench::ConnectDriver(sim, connection))
            return 1;
        g_connection = &connection;
        g_csv = std::filesystem::temp_directory_path().string() + "/quarvel-rigol-mso-bench-" +
                std::to_string(getpid()) + ".csv";
        benchmark::Initialize(&argc, argv);
        quarvel::bench::RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        std::filesystem::remove(g_csv);
        std::printf("capture / raw block = %.2f; capture and CSV / raw block = %.2f "
                    "(target <= 1.5)\n",
                    reporter.Ratio("BM_Capture", "BM_RawBlock"),
                    reporter.Ratio("BM_CaptureToCsv", "BM_RawBlock"));
    }
    ReportPeakMemory(kPoints);
    return 0;
}
