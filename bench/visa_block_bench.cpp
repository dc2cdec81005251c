// Block transfer throughput of the VISA layer: a 4 000 000-byte IEEE 488.2
// block read with viScanf("%#b\n") from quarvel-sim over VXI-11, SOCKET,
// HiSLIP and USBTMC on the simulator's USB/IP server, against the same bytes
// read from a plain TCP socket. Prints the rates and the ratios VISA / plain
// (targets: at least 0.8 for VXI-11, 0.5 for SOCKET, 0.8 for HiSLIP; USB has
// none: every transfer is a request and a reply, see docs/design.md), and USB
// against SOCKET.

#include "bench/bench_sim.h"
#include "visa/visa.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kBlockSize = 4'000'000;
const std::string kQuery = ":TEST:BLOCK? " + std::to_string(kBlockSize) + "\n";

// quarvel-sim on free loopback ports for the whole run.
const quarvel::bench::BenchSim& Sim() {
    static const quarvel::bench::BenchSim sim(
        {"--socket-port", "0", "--portmapper-port", "0", "--hislip-port", "0", "--usbip-port", "0"},
        {"socket", "portmapper", "hislip", "usbip"});
    return sim;
}

enum class Lan { Vxi11, Socket, Hislip, Usb };

std::string ResourceOf(Lan lan) {
    switch (lan) {
    case Lan::Vxi11:
        return "TCPIP0::127.0.0.1::inst0::INSTR";
    case Lan::Socket:
        return "TCPIP0::127.0.0.1::" + std::to_string(Sim().Port("socket")) + "::SOCKET";
    case Lan::Hislip:
        return "TCPIP0::127.0.0.1::hislip0," + std::to_string(Sim().Port("hislip")) + "::INSTR";
    case Lan::Usb:
        // The generic family's IDs; its *IDN? has no serial number.
        return "USB0::0x1209::0x0001::QVSIM00001::INSTR";
    }
    return {};
}

void VisaBlock(benchmark::State& state, Lan lan) {
    if (Sim().Port("hislip") == 0) {
        state.SkipWithError("quarvel-sim did not start");
        return;
    }
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    viOpenDefaultRM(&rm);
    viSetAttribute(rm, QVI_ATTR_PORTMAPPER_PORT, Sim().Port("portmapper"));
    viSetAttribute(rm, VI_ATTR_TMO_VALUE, 10000);
    const std::string usbip = "127.0.0.1:" + std::to_string(Sim().Port("usbip"));
    viSetAttribute(rm, QVI_ATTR_USBIP_SERVERS, reinterpret_cast<ViAttrState>(usbip.c_str()));
    const std::string resource = ResourceOf(lan);
    if (viOpen(rm, resource.c_str(), VI_NULL, 0, &vi) != VI_SUCCESS) {
        state.SkipWithError("viOpen failed");
        viClose(rm);
        return;
    }
    std::vector<unsigned char> buffer(kBlockSize);
    for (auto _ : state) {
        ViUInt32 count = static_cast<ViUInt32>(buffer.size());
        if (viPrintf(vi, ":TEST:BLOCK? %u\n", static_cast<unsigned>(kBlockSize)) != VI_SUCCESS ||
            viScanf(vi, "%#b\n", &count, buffer.data()) != VI_SUCCESS || count != kBlockSize) {
            state.SkipWithError("block read failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlockSize));
    viClose(rm);
}

void BM_Vxi11Block(benchmark::State& state) {
    VisaBlock(state, Lan::Vxi11);
}
void BM_SocketBlock(benchmark::State& state) {
    VisaBlock(state, Lan::Socket);
}
void BM_HislipBlock(benchmark::State& state) {
    VisaBlock(state, Lan::Hislip);
}
void BM_UsbBlock(benchmark::State& state) {
    VisaBlock(state, Lan::Usb);
}

// The baseline: the same query and bytes over a plain blocking socket, read
// with large recv() calls straight into the buffer.
void BM_PlainSocketBlock(benchmark::State& state) {
    if (Sim().Port("hislip") == 0) {
        state.SkipWithError("quarvel-sim did not start");
        return;
    }
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(Sim().Port("socket")));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        state.SkipWithError("connect failed");
        close(fd);
        return;
    }
    const std::string header = "#7" + std::to_string(kBlockSize);
    std::vector<unsigned char> buffer(kBlockSize + header.size() + 1);
    for (auto _ : state) {
        if (send(fd, kQuery.data(), kQuery.size(), 0) != static_cast<ssize_t>(kQuery.size())) {
            state.SkipWithError("send failed");
            break;
        }
        std::size_t got = 0;
        while (got < buffer.size()) {
            const ssize_t n = recv(fd, buffer.data() + got, buffer.size() - got, 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got != buffer.size()) {
            state.SkipWithError("short read");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlockSize));
    close(fd);
}

BENCHMARK(BM_PlainSocketBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Vxi11Block)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HislipBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UsbBlock)->Unit(benchmark::kMillisecond)->UseRealTime();

// Remembers each benchmark's rate to print the ratios at the end.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end() && !run.error_occurred)
                m_rates[run.benchmark_name()] = it->second.value;
        }
    }
    void PrintSummary() const {
        const auto plain = m_rates.find("BM_PlainSocketBlock/real_time");
        for (const auto& [name, rate] : m_rates)
            std::printf("%-32s %8.1f MB/s\n", name.c_str(), rate / 1e6);
        if (plain == m_rates.end() || plain->second <= 0)
            return;
        const std::pair<const char*, double> targets[] = {{"BM_Vxi11Block/real_time", 0.8},
                                                          {"BM_SocketBlock/real_time", 0.5},
                                                          {"BM_HislipBlock/real_time", 0.8}};
        for (const auto& [name, target] : targets) {
            const auto it = m_rates.find(name);
            if (it != m_rates.end())
                std::printf("ratio %-26s %5.2f of the plain socket (target >= %.2f)\n", name,
                            it->second / plain->second, target);
        }
        const auto usb = m_rates.find("BM_UsbBlock/real_time");
        const auto socket = m_rates.find("BM_SocketBlock/real_time");
        if (usb != m_rates.end() && socket != m_rates.end() && socket->second > 0)
            std::printf("ratio %-26s %5.2f of the plain socket, %.2f of VISA SOCKET\n",
                        usb->first.c_str(), usb->second / plain->second,
                        usb->second / socket->second);
    }

private:
    std::map<std::string, double> m_rates;
};

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
