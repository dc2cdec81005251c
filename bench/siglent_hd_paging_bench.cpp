// The paged Siglent SDS HD transfer against one block of the same bytes over
// the same kind of link (the simulator's SOCKET on loopback): 10 M points of
// one channel as 12-bit WORD samples (20 MB), which an SDS824X HD with
// :WAVeform:MAXPoint? 5 M sends in two pages. Paged: the driver's whole read
// of the channel (set-up, descriptor, timebase, both pages, conversion into
// the record). Pages only: the same two block queries, nothing converted.
// One block: a second simulator whose MAXPoint covers the whole record
// sends the same bytes in one :WAVeform:DATA? reply, through the same block
// reader. Each starts with one untimed read, so the simulator has computed
// its codes before the clock runs.

#include "bench/bench_sim.h"
#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "instr/retrieval_block.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace {

constexpr long kPoints = 10000000;
constexpr long kPage = 5000000;
constexpr std::size_t kBytes = 2 * kPoints;

CInstrConnection* g_paged = nullptr;
ViSession g_oneBlock = VI_NULL;

bool ReadChannel(CInstrLL& driver, WaveformRecord& record) {
    return driver.GetWaveformData("C1", record) &&
           record.y.size() == static_cast<std::size_t>(kPoints);
}

void BM_PagedChannel(benchmark::State& state) {
    CInstrLL& driver = *g_paged->GetDriver();
    driver.BeginDataCapture();
    WaveformRecord warm;
    if (!ReadChannel(driver, warm))
        state.SkipWithError(driver.WaveformFailure().c_str());
    warm = {};
    for (auto _ : state) {
        WaveformRecord record;
        if (!ReadChannel(driver, record)) {
            state.SkipWithError(driver.WaveformFailure().c_str());
            break;
        }
        benchmark::DoNotOptimize(record.y.data());
    }
    driver.EndDataCapture();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// `pages` queries of kPoints / pages points each into one buffer.
bool ReadPages(ViSession session, int pages, std::vector<std::uint8_t>& all,
               std::vector<std::uint8_t>& page, std::string& why) {
    const long points = kPoints / pages;
    const quarvel::wavedata::BlockQuery query{.command = ":WAV:DATA?\n",
                                              .maxBytes = static_cast<std::size_t>(2 * points),
                                              .timeoutMs = 30000,
                                              .tailBytes = 2};
    for (long first = 0; first < kPoints; first += points) {
        viPrintf(session, ":WAV:STAR %ld\n:WAV:POIN %ld\n", first, points);
        if (!quarvel::wavedata::QueryDataBlock(session, query, page, why) ||
            page.size() != static_cast<std::size_t>(2 * points))
            return false;
        std::copy(page.begin(), page.end(), all.begin() + 2 * first);
    }
    return true;
}

void RunBlocks(benchmark::State& state, ViSession session, int pages) {
    viPrintf(session, ":TRIG:STOP\n:WAV:SOUR C1\n:WAV:WIDT WORD\n");
    std::vector<std::uint8_t> all(kBytes);
    std::vector<std::uint8_t> page;
    std::string why;
    if (!ReadPages(session, pages, all, page, why))
        state.SkipWithError(why.c_str());
    for (auto _ : state) {
        if (!ReadPages(session, pages, all, page, why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        benchmark::DoNotOptimize(all.data());
    }
    viPrintf(session, ":TRIG:RUN\n");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

void BM_PagesOnly(benchmark::State& state) {
    RunBlocks(state, g_paged->GetSession(), kPoints / kPage);
}

void BM_OneBlock(benchmark::State& state) {
    RunBlocks(state, g_oneBlock, 1);
}

BENCHMARK(BM_PagedChannel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_PagesOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_OneBlock)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

quarvel::bench::BenchSim StartSim(long page) {
    return quarvel::bench::BenchSim({"--instrument", "siglent-hd", "--socket-port", "0",
                                     "--portmapper-port", "none", "--hislip-port", "none",
                                     "--waveform-points", std::to_string(kPoints),
                                     "--waveform-page", std::to_string(page)},
                                    {"socket"});
}

} // namespace

int main(int argc, char** argv) {
    const quarvel::bench::BenchSim pagedSim = StartSim(kPage);
    const quarvel::bench::BenchSim oneBlockSim = StartSim(kPoints);
    CInstrConnection paged;
    CInstrConnection oneBlock;
    if (pagedSim.Port("socket") == 0 || oneBlockSim.Port("socket") == 0 ||
        !paged.Open(pagedSim.SocketResource()) || !paged.QueryIdn() || !paged.CreateDriver() ||
        !oneBlock.Open(oneBlockSim.SocketResource())) {
        std::fprintf(stderr, "quarvel-sim did not start or answer\n");
        return 1;
    }
    g_paged = &paged;
    g_oneBlock = oneBlock.GetSession();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
