// The CSV writer against the same table produced the plain way: one
// snprintf("%e") per value (its exponent widened to three digits) and one
// write per line. Four records of 1 000 000 samples on one time base.
// Prints the speed ratio of one run, after checking both files are equal.

#include "wavedata/data_writers.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

constexpr std::size_t kSamples = 1000000;
constexpr int kRecords = 4;

WaveformRecordList MakeRecords() {
    WaveformRecordList records(kRecords);
    for (int r = 0; r < kRecords; ++r) {
        WaveformRecord& record = records[static_cast<std::size_t>(r)];
        record.name = "CHAN" + std::to_string(r + 1);
        record.xLabel = "time/s";
        record.yLabel = "voltage/V";
        record.Resize(kSamples);
        double x = -5.0e-4;
        for (std::size_t i = 0; i < kSamples; ++i) {
            record.x[i] = x;
            x += 1.0e-9;
            record.y[i] = (r + 1) * 0.37 * std::sin(i * 0.001 * (r + 1)) + 0.0125 * r;
        }
    }
    return records;
}

// "%e" with the exponent widened to three digits.
int Scientific(char* out, std::size_t size, double value) {
    int n = std::snprintf(out, size, "%e", value);
    char* e = std::strchr(out, 'e');
    if (e != nullptr && std::strlen(e + 2) == 2) {
        std::memmove(e + 3, e + 2, 3);
        e[2] = '0';
        ++n;
    }
    return n;
}

bool WriteWithSnprintf(const WaveformRecordList& records, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::string line = records.front().xLabel;
    for (const WaveformRecord& r : records) {
        line += ";" + r.name + "(" + r.yLabel + ")";
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), file);
    char number[64];
    for (std::size_t j = 0; j < records.front().x.size(); ++j) {
        line.assign(number, static_cast<std::size_t>(
                                Scientific(number, sizeof number, records.front().x[j])));
        for (const WaveformRecord& r : records) {
            line += ';';
            line.append(number,
                        static_cast<std::size_t>(Scientific(number, sizeof number, r.y[j])));
        }
        line += "\r\n";
        std::fwrite(line.data(), 1, line.size(), file);
    }
    return std::fclose(file) == 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/quarvel-bench-" + std::to_string(getpid()) + "-" +
           name;
}

const WaveformRecordList& Records() {
    static const WaveformRecordList records = MakeRecords();
    return records;
}

void BM_WriteCsvFile(benchmark::State& state) {
    const std::string path = TempPath("fast.csv");
    for (auto _ : state) {
        if (!WriteCsvFile(Records(), path)) {
            state.SkipWithError("writing failed");
        }
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_WriteCsvFile)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SnprintfPerValue(benchmark::State& state) {
    const std::string path = TempPath("plain.csv");
    for (auto _ : state) {
        if (!WriteWithSnprintf(Records(), path)) {
            state.SkipWithError("writing failed");
        }
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_SnprintfPerValue)->Unit(benchmark::kMillisecond)->Iterations(3);

struct Seconds {
    double wall = 1e30;
    double cpu = 1e30; // this process's CPU time: what the writer costs on a busy machine
};

double CpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Best of three runs.
template <typename Write> Seconds Best(Write write) {
    Seconds best;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuNow();
        write();
        best.cpu = std::min(best.cpu, CpuNow() - cpuStart);
        best.wall = std::min(
            best.wall,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const std::string fast = TempPath("check-fast.csv");
    const std::string plain = TempPath("check-plain.csv");
    const Seconds fastTime = Best([&] { WriteCsvFile(Records(), fast); });
    const Seconds plainTime = Best([&] { WriteWithSnprintf(Records(), plain); });
    const std::string a = ReadAll(fast);
    const std::string b = ReadAll(plain);
    std::remove(fast.c_str());
    std::remove(plain.c_str());
    if (a.empty() || a != b) {
        std::fprintf(stderr, "the two writers' files differ (%zu and %zu bytes)\n", a.size(),
                     b.size());
        return 1;
    }
    std::printf("CSV, %d records x %zu samples, %zu bytes, identical files\n", kRecords, kSamples,
                a.size());
    std::printf(
        "WriteCsvFile: %.3f s CPU, %.3f s wall; snprintf per value: %.3f s CPU, %.3f s wall\n",
        fastTime.cpu, fastTime.wall, plainTime.cpu, plainTime.wall);
    std::printf("ratio: %.1fx less CPU time, %.1fx less wall time (target >= 5x)\n",
                plainTime.cpu / fastTime.cpu, plainTime.wall / fastTime.wall);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
