// The paged Siglent SDS HD transfer against one block of the same bytes over
// the same kind of link (the simulator's SOCKET on loopback): 10 M points of
// one channel as 12-bit WORD samples (20 MB), which an SDS824X HD with
// :WAVeform:MAXPoint? 5 M sends in two pages. Paged: the driver's whole read
// of the channel (set-up, descriptor, timebase, both pages, conversion into
// the record). Pages only: the same two block queries, nothing converted.
// One block: a second simulator whose MAXPoint covers the whole record
// sends the same bytes in one :WAVeform:DATA? reply, through the same block
// reader. Each starts with one untimed read, so the simulator has computed
// its codes before the clock runs. Each runs twice: over bare loopback,
// where a 20 MB block comes at memory speed and the 160 MB record cannot be
// built in its shadow, and with the simulator sending at 125 MB/s (Gigabit
// Ethernet, the fastest link these scopes have), where the conversion of
// one piece overlaps the arrival of the next.

#include "bench/bench_scope.h"
#include "bench/bench_sim.h"
#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "instr/retrieval_block.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <list>
#include <string>
#include <vector>

namespace {

constexpr long kPoints = 10000000;
constexpr long kPage = 5000000;
constexpr std::size_t kBytes = 2 * kPoints;

// Index 0: bare loopback; 1: at the Gigabit link's rate.
constexpr long kLinkRatesKbps[] = {0, 125000};
CInstrConnection* g_paged[2] = {};
ViSession g_oneBlock[2] = {};

bool ReadChannel(CInstrLL& driver, WaveformRecord& record) {
    return driver.GetWaveformData("C1", record) &&
           record.y.size() == static_cast<std::size_t>(kPoints);
}

void BM_PagedChannel(benchmark::State& state) {
    CInstrLL& driver = *g_paged[state.range(0)]->GetDriver();
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
    RunBlocks(state, g_paged[state.range(0)]->GetSession(), kPoints / kPage);
}

void BM_OneBlock(benchmark::State& state) {
    RunBlocks(state, g_oneBlock[state.range(0)], 1);
}

BENCHMARK(BM_PagedChannel)
    ->ArgName("gigabit")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);
BENCHMARK(BM_PagesOnly)
    ->ArgName("gigabit")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);
BENCHMARK(BM_OneBlock)
    ->ArgName("gigabit")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

std::vector<std::string> SimArgs(long page, long rateKbps) {
    std::vector<std::string> args =
        quarvel::bench::SocketOnlyScope("siglent-hd", {"--waveform-points", std::to_string(kPoints),
                                                       "--waveform-page", std::to_string(page)});
    if (rateKbps > 0) {
        args.push_back("--rate");
        args.push_back(std::to_string(rateKbps));
    }
    return args;
}

} // namespace

int main(int argc, char** argv) {
    // A list: each simulator is made in place and never moves.
    std::list<quarvel::bench::BenchSim> sims;
    const std::vector<std::string> kSocket = {"socket"};
    CInstrConnection paged[2];
    CInstrConnection oneBlock[2];
    for (int link = 0; link < 2; ++link) {
        const quarvel::bench::BenchSim& pagedSim =
            sims.emplace_back(SimArgs(kPage, kLinkRatesKbps[link]), kSocket);
        const quarvel::bench::BenchSim& oneBlockSim =
            sims.emplace_back(SimArgs(kPoints, kLinkRatesKbps[link]), kSocket);
        if (!quarvel::bench::ConnectDriver(pagedSim, paged[link]) ||
            !quarvel::bench::ConnectDriver(oneBlockSim, oneBlock[link]))
            return 1;
        g_paged[link] = &paged[link];
        g_oneBlock[link] = oneBlock[link].GetSession();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
