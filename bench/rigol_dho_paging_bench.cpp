// The Rigol DHO's paged WORD transfer (the definition's 250 000-point pages)
// against one block of the same bytes over the same link (the rigol-dho
// persona's SOCKET, told to serve the whole record in one :WAV:DATA?).
//   Paged      the method's whole read of one channel: set-up, preamble,
//              :ACQ:MDEP?, eight pages, the record built.
//   PagesOnly  the same eight page queries into one buffer, nothing converted.
//   OneBlock   the same 4 MB as a single block through the same block reader.
// The ratios to OneBlock are printed after the runs.

#include "bench/bench_ratios.h"
#include "bench/bench_scope.h"
#include "bench/bench_sim.h"
#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "instr/retrieval_block.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr long kPoints = 2000000; // eight pages
constexpr long kPage = 250000;

CInstrConnection* g_connection = nullptr;

void BM_Paged(benchmark::State& state) {
    CInstrLL& driver = *g_connection->GetDriver();
    driver.BeginDataCapture();
    for (auto _ : state) {
        WaveformRecord record;
        if (!driver.GetWaveformData("CHAN1", record) ||
            record.y.size() != static_cast<std::size_t>(kPoints)) {
            state.SkipWithError(driver.WaveformFailure().c_str());
            break;
        }
        benchmark::DoNotOptimize(record.y.data());
    }
    driver.EndDataCapture();
    state.SetBytesProcessed(state.iterations() * kPoints * 2);
}

void BM_PagesOnly(benchmark::State& state) {
    const ViSession session = g_connection->GetSession();
    viPrintf(session, ":STOP\n:WAV:SOUR CHAN1\n:WAV:MODE RAW\n:WAV:FORM WORD\n");
    std::vector<std::uint8_t> all(kPoints * 2);
    std::vector<std::uint8_t> page;
    std::string why;
    const quarvel::wavedata::BlockQuery query{
        .command = ":WAV:DATA?\n", .maxBytes = kPage * 2, .timeoutMs = 30000};
    for (auto _ : state) {
        for (long first = 1; first <= kPoints; first += kPage) {
            viPrintf(session, ":WAV:STAR %ld\n:WAV:STOP %ld\n", first, first + kPage - 1);
            if (!quarvel::wavedata::QueryDataBlock(session, query, page, why) ||
                page.size() != static_cast<std::size_t>(kPage * 2)) {
                state.SkipWithError(why.c_str());
                return;
            }
            std::copy(page.begin(), page.end(), all.begin() + (first - 1) * 2);
        }
        benchmark::DoNotOptimize(all.data());
    }
    viPrintf(session, ":RUN\n");
    state.SetBytesProcessed(state.iterations() * kPoints * 2);
}

void BM_OneBlock(benchmark::State& state) {
    const ViSession session = g_connection->GetSession();
    viPrintf(session,
             ":STOP\n:WAV:SOUR CHAN1\n:WAV:MODE RAW\n:WAV:FORM WORD\n:WAV:STAR 1\n:WAV:STOP %ld\n",
             kPoints);
    std::vector<std::uint8_t> data;
    std::string why;
    const quarvel::wavedata::BlockQuery query{
        .command = ":WAV:DATA?\n", .maxBytes = kPoints * 2, .timeoutMs = 30000};
    for (auto _ : state) {
        if (!quarvel::wavedata::QueryDataBlock(session, query, data, why) ||
            data.size() != static_cast<std::size_t>(kPoints * 2)) {
            state.SkipWithError(why.c_str());
            break;
        }
        benchmark::DoNotOptimize(data.data());
    }
    viPrintf(session, ":RUN\n");
    state.SetBytesProcessed(state.iterations() * kPoints * 2);
}

BENCHMARK(BM_Paged)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PagesOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OneBlock)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    const quarvel::bench::BenchSim sim(
        quarvel::bench::SocketOnlyScope("rigol-dho", {"--waveform-points", std::to_string(kPoints),
                                                      "--waveform-page", std::to_string(kPoints)}),
        {"socket"});
    CInstrConnection connection;
    if (!quarvel::bench::ConnectDriver(sim, connection))
        return 1;
    g_connection = &connection;
    benchmark::Initialize(&argc, argv);
    quarvel::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("paged / one block = %.2f; pages only / one block = %.2f\n",
                reporter.Ratio("BM_Paged", "BM_OneBlock"),
                reporter.Ratio("BM_PagesOnly", "BM_OneBlock"));
    return 0;
}
