// The paged Rigol DS1000Z transfer (pages of 250 000 points, as the
// programming guide allows for BYTE data) against one block of the same
// bytes over the same link (the simulator's SOCKET, told to serve the whole
// record in one :WAV:DATA? reply). Paged: the driver's whole read of one
// channel, set-up, preamble, pages and conversion into the record. One
// block: the same bytes as a single block through the same block reader,
// nothing converted. Pages only: the driver's eight block queries without
// the conversion. Paged / one block is what a capture pays over the bare
// transfer (target: 1.3); pages only / one block the cost of paging itself;
// the rest is building the 32 MB record. The three run in turn within each
// iteration, and the figures are the ratios of their sums.

#include "bench/bench_scope.h"
#include "bench/bench_sim.h"
#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "instr/retrieval_block.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr long kPoints = 2000000; // eight pages
constexpr long kPage = 250000;

using Clock = std::chrono::steady_clock;

CInstrConnection* g_connection = nullptr;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The three reads one after the other in each iteration, so that a machine
// whose load changes during the run (the simulator shares it) weighs on all
// three alike; the ratios are of their sums.
void BM_PagedAgainstOneBlock(benchmark::State& state) {
    const ViSession session = g_connection->GetSession();
    CInstrLL& driver = *g_connection->GetDriver();
    std::vector<std::uint8_t> block;
    std::vector<std::uint8_t> all(kPoints);
    std::vector<std::uint8_t> page;
    std::string why;
    double blockMs = 0;
    double pagesMs = 0;
    double pagedMs = 0;
    driver.BeginDataCapture(); // stopped: the whole memory is read
    for (auto _ : state) {
        // One block of the same bytes through the same block reader.
        viPrintf(session,
                 ":WAV:SOUR CHAN1\n:WAV:MODE RAW\n:WAV:FORM BYTE\n:WAV:STAR 1\n"
                 ":WAV:STOP %ld\n",
                 kPoints);
        const quarvel::wavedata::BlockQuery whole{
            .command = ":WAV:DATA?\n", .maxBytes = kPoints, .timeoutMs = 30000};
        Clock::time_point start = Clock::now();
        if (!quarvel::wavedata::QueryDataBlock(session, whole, block, why) ||
            block.size() != static_cast<std::size_t>(kPoints)) {
            state.SkipWithError(why.c_str());
            break;
        }
        blockMs += MsSince(start);

        // The driver's eight block queries alone, nothing converted.
        const quarvel::wavedata::BlockQuery one{
            .command = ":WAV:DATA?\n", .maxBytes = kPage, .timeoutMs = 30000};
        start = Clock::now();
        for (long first = 1; first <= kPoints; first += kPage) {
            viPrintf(session, ":WAV:STAR %ld\n:WAV:STOP %ld\n", first, first + kPage - 1);
            if (!quarvel::wavedata::QueryDataBlock(session, one, page, why) ||
                page.size() != static_cast<std::size_t>(kPage)) {
                state.SkipWithError(why.c_str());
                return;
            }
            std::copy(page.begin(), page.end(), all.begin() + (first - 1));
        }
        pagesMs += MsSince(start);

        // The driver's whole read: set-up, preamble, pages, the record.
        start = Clock::now();
        WaveformRecord record;
        if (!driver.GetWaveformData("CHAN1", record) ||
            record.y.size() != static_cast<std::size_t>(kPoints)) {
            state.SkipWithError(driver.WaveformFailure().c_str());
            break;
        }
        benchmark::DoNotOptimize(record.y.data());
        pagedMs += MsSince(start);
        state.SetIterationTime(MsSince(start) / 1000.0);
    }
    driver.EndDataCapture();
    state.counters["one_block_ms"] = blockMs / static_cast<double>(state.iterations());
    state.counters["paged_ms"] = pagedMs / static_cast<double>(state.iterations());
    state.counters["pages_only_over_block"] = pagesMs / blockMs;
    state.counters["paged_over_block"] = pagedMs / blockMs;
    state.SetBytesProcessed(state.iterations() * kPoints);
}

BENCHMARK(BM_PagedAgainstOneBlock)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3.0);

} // namespace

int main(int argc, char** argv) {
    const quarvel::bench::BenchSim sim(
        quarvel::bench::SocketOnlyScope("rigol", {"--waveform-points", std::to_string(kPoints),
                                                  "--waveform-page", std::to_string(kPoints)}),
        {"socket"});
    CInstrConnection connection;
    if (!quarvel::bench::ConnectDriver(sim, connection))
        return 1;
    g_connection = &connection;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
