// The paged Rigol DS1000Z transfer (pages of 250 000 points, as the
// programming guide allows for BYTE data) against one block of the same
// bytes over the same link (the simulator's SOCKET, told to serve the whole
// record in one :WAV:DATA? reply). Paged: the driver's whole read of one
// channel, set-up, preamble, pages and conversion into the record. One
// block: the same bytes as a single block through the same block reader,
// nothing converted. Pages only: the driver's eight block queries without
// the conversion. Paged / one block is what a capture pays over the bare
// transfer; pages only / one block the cost of paging itself; the rest is
// building the 32 MB record (first writes to fresh memory, mostly).

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

CInstrConnection* g_connection = nullptr;

void BM_PagedChannel(benchmark::State& state) {
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
    state.SetBytesProcessed(state.iterations() * kPoints);
}

// The pages alone: the same eight block queries as the driver's, into one
// buffer, nothing converted.
void BM_PagesOnly(benchmark::State& state) {
    const ViSession session = g_connection->GetSession();
    viPrintf(session, ":STOP\n:WAV:SOUR CHAN1\n:WAV:MODE RAW\n:WAV:FORM BYTE\n");
    constexpr long kPage = 250000;
    std::vector<std::uint8_t> all(kPoints);
    std::vector<std::uint8_t> page;
    std::string why;
    const quarvel::wavedata::BlockQuery query{
        .command = ":WAV:DATA?\n", .maxBytes = kPage, .timeoutMs = 30000};
    for (auto _ : state) {
        for (long first = 1; first <= kPoints; first += kPage) {
            viPrintf(session, ":WAV:STAR %ld\n:WAV:STOP %ld\n", first, first + kPage - 1);
            if (!quarvel::wavedata::QueryDataBlock(session, query, page, why) ||
                page.size() != static_cast<std::size_t>(kPage)) {
                state.SkipWithError(why.c_str());
                return;
            }
            std::copy(page.begin(), page.end(), all.begin() + (first - 1));
        }
        benchmark::DoNotOptimize(all.data());
    }
    viPrintf(session, ":RUN\n");
    state.SetBytesProcessed(state.iterations() * kPoints);
}

void BM_OneBlock(benchmark::State& state) {
    const ViSession session = g_connection->GetSession();
    viPrintf(session,
             ":STOP\n:WAV:SOUR CHAN1\n:WAV:MODE RAW\n:WAV:FORM BYTE\n:WAV:STAR 1\n:WAV:STOP %ld\n",
             kPoints);
    std::vector<std::uint8_t> data;
    std::string why;
    const quarvel::wavedata::BlockQuery query{
        .command = ":WAV:DATA?\n", .maxBytes = kPoints, .timeoutMs = 30000};
    for (auto _ : state) {
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

BENCHMARK(BM_PagedChannel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PagesOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OneBlock)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    const quarvel::bench::BenchSim sim({"--instrument", "rigol", "--socket-port", "0",
                                        "--portmapper-port", "none", "--hislip-port", "none",
                                        "--waveform-points", std::to_string(kPoints),
                                        "--waveform-page", std::to_string(kPoints)},
                                       {"socket"});
    CInstrConnection connection;
    if (sim.Port("socket") == 0 || !connection.Open(sim.SocketResource()) ||
        !connection.QueryIdn() || !connection.CreateDriver()) {
        std::fprintf(stderr, "quarvel-sim did not start or answer\n");
        return 1;
    }
    g_connection = &connection;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
