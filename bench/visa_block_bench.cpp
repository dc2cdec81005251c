// Block transfer throughput of the VISA layer: a 4 000 000-byte IEEE 488.2
// block read with viScanf("%#b\n") from quarvel-sim over VXI-11, SOCKET,
// HiSLIP and USBTMC on the simulator's USB/IP server, against the same bytes
// read from a plain TCP socket. Prints the rates and the ratios VISA / plain
// (targets: at least 0.8 for VXI-11, 0.5 for SOCKET, 0.8 for HiSLIP; USB has
// none: every transfer is a request and a reply, see docs/design.md), and USB
// against SOCKET. The ratios to the plain socket come from the BM_*VsPlain
// cases, which alternate one plain and one VISA read and take the median of
// the pairs' ratios: on a shared, loaded machine two runs seconds apart see
// different loads, one pair of reads nearly the same. The summary also sets
// each path's own rate against the plain socket's (a cost the simulator pays
// after each reply overlaps the next read of a pair, so only separate runs
// show it), with the simulator's page faults and CPU time per read, and the
// CPU time of client and simulator against the plain socket's. Each
// benchmark runs five times, the runs of all in random order, and the
// summary gives the medians. BM_Vxi11LogOnVsOff sets the I/O log's cost
// against the same read with it off (paired, as above).

#include "bench/bench_sim.h"
#include "visa/visa_internal.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
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

// The simulator's minor page faults and CPU time (ms) so far, or false:
// a reply made in memory fresh from the kernel costs a fault per 4 KB page.
bool SimUsage(double& faults, double& cpuMs) {
    std::ifstream stat("/proc/" + std::to_string(Sim().Pid()) + "/stat");
    std::string text;
    std::getline(stat, text);
    // minflt, utime and stime are the 8th, 12th and 13th fields after the
    // parenthesised command name.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> f(13);
    for (std::string& field : f)
        fields >> field;
    if (!fields)
        return false;
    faults = std::atof(f[7].c_str());
    cpuMs = (std::atof(f[11].c_str()) + std::atof(f[12].c_str())) * 1000.0 /
            static_cast<double>(sysconf(_SC_CLK_TCK));
    return true;
}

// The simulator's page faults and CPU time per read over a benchmark.
class SimCost {
public:
    SimCost() : m_known(SimUsage(m_faults, m_cpuMs)) {}
    void Report(benchmark::State& state) const {
        double faults = 0;
        double cpuMs = 0;
        if (!m_known || !SimUsage(faults, cpuMs) || state.iterations() == 0)
            return;
        const auto reads = static_cast<double>(state.iterations());
        state.counters["sim_faults_per_read"] = (faults - m_faults) / reads;
        state.counters["sim_ms_per_read"] = (cpuMs - m_cpuMs) / reads;
    }

private:
    double m_faults = 0;
    double m_cpuMs = 0;
    bool m_known;
};

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

// A resource manager with the simulator's portmapper and a session on lan;
// rm stays VI_NULL when either fails.
void OpenVisa(Lan lan, ViSession& rm, ViSession& vi) {
    rm = vi = VI_NULL;
    if (viOpenDefaultRM(&rm) != VI_SUCCESS)
        return;
    viSetAttribute(rm, QVI_ATTR_PORTMAPPER_PORT, Sim().Port("portmapper"));
    viSetAttribute(rm, VI_ATTR_TMO_VALUE, 10000);
    const std::string usbip = "127.0.0.1:" + std::to_string(Sim().Port("usbip"));
    viSetAttribute(rm, QVI_ATTR_USBIP_SERVERS, reinterpret_cast<ViAttrState>(usbip.c_str()));
    const std::string resource = ResourceOf(lan);
    if (viOpen(rm, resource.c_str(), VI_NULL, 0, &vi) != VI_SUCCESS) {
        viClose(rm);
        rm = vi = VI_NULL;
    }
}

bool VisaRead(ViSession vi, std::vector<unsigned char>& buffer) {
    ViUInt32 count = static_cast<ViUInt32>(buffer.size());
    return viPrintf(vi, ":TEST:BLOCK? %u\n", static_cast<unsigned>(kBlockSize)) == VI_SUCCESS &&
           viScanf(vi, "%#b\n", &count, buffer.data()) == VI_SUCCESS && count == kBlockSize;
}

// A plain blocking socket to the simulator's SOCKET port; -1 when it fails.
int OpenPlain() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(Sim().Port("socket")));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The query, and its reply (header, block, line feed) read with large
// recv() calls straight into the buffer.
bool PlainRead(int fd, std::vector<unsigned char>& buffer) {
    if (send(fd, kQuery.data(), kQuery.size(), 0) != static_cast<ssize_t>(kQuery.size()))
        return false;
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = recv(fd, buffer.data() + got, buffer.size() - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t PlainReplySize() {
    return std::string("#7" + std::to_string(kBlockSize)).size() + kBlockSize + 1;
}

void VisaBlock(benchmark::State& state, Lan lan) {
    if (Sim().Port("hislip") == 0) {
        state.SkipWithError("quarvel-sim did not start");
        return;
    }
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    OpenVisa(lan, rm, vi);
    if (rm == VI_NULL) {
        state.SkipWithError("viOpen failed");
        return;
    }
    std::vector<unsigned char> buffer(kBlockSize);
    const SimCost simCost;
    for (auto _ : state) {
        if (!VisaRead(vi, buffer)) {
            state.SkipWithError("block read failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    simCost.Report(state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlockSize));
    viClose(rm);
}

// One plain read and one VISA read per iteration, each timed; the counter
// ratio_to_plain is the median of plain time / VISA time over the pairs.
void VisaVsPlain(benchmark::State& state, Lan lan) {
    if (Sim().Port("hislip") == 0) {
        state.SkipWithError("quarvel-sim did not start");
        return;
    }
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    OpenVisa(lan, rm, vi);
    const int fd = OpenPlain();
    if (rm == VI_NULL || fd < 0) {
        state.SkipWithError("viOpen or connect failed");
        if (rm != VI_NULL)
            viClose(rm);
        if (fd >= 0)
            close(fd);
        return;
    }
    std::vector<unsigned char> visaBuffer(kBlockSize);
    std::vector<unsigned char> plainBuffer(PlainReplySize());
    std::vector<double> ratios;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const auto start = Clock::now();
        const bool plainOk = PlainRead(fd, plainBuffer);
        const auto middle = Clock::now();
        const bool visaOk = VisaRead(vi, visaBuffer);
        const auto end = Clock::now();
        if (!plainOk || !visaOk) {
            state.SkipWithError("block read failed");
            break;
        }
        ratios.push_back(std::chrono::duration<double>(middle - start).count() /
                         std::chrono::duration<double>(end - middle).count());
    }
    if (!ratios.empty()) {
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
        state.counters["ratio_to_plain"] = ratios[ratios.size() / 2];
    }
    viClose(rm);
    close(fd);
}

// The I/O log's cost: one VXI-11 read with the log off and one with it on
// per iteration (state.range(0): 1 keeps the whole payloads in the side
// file), each timed; ratio_log_on_to_off is the median of on / off over the
// pairs. The log goes to a temporary file, removed afterwards.
void BM_Vxi11LogOnVsOff(benchmark::State& state) {
    if (Sim().Port("hislip") == 0) {
        state.SkipWithError("quarvel-sim did not start");
        return;
    }
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    OpenVisa(Lan::Vxi11, rm, vi);
    if (rm == VI_NULL) {
        state.SkipWithError("viOpen failed");
        return;
    }
    char logPath[] = "/tmp/quarvel-bench-log-XXXXXX";
    const int fd = mkstemp(logPath);
    if (fd >= 0)
        close(fd);
    const bool withData = state.range(0) != 0;
    std::vector<unsigned char> buffer(kBlockSize);
    std::vector<double> ratios;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const auto start = Clock::now();
        const bool offOk = VisaRead(vi, buffer);
        const auto middle = Clock::now();
        ViChar message[QVI_MESSAGE_BUFLEN];
        const bool started =
            qviStartIoLog(logPath, withData ? VI_TRUE : VI_FALSE, message) == VI_SUCCESS;
        const auto on = Clock::now();
        const bool onOk = VisaRead(vi, buffer);
        const auto end = Clock::now();
        qviStopIoLog();
        if (!offOk || !onOk || !started) {
            state.SkipWithError("block read failed");
            break;
        }
        ratios.push_back(std::chrono::duration<double>(end - on).count() /
                         std::chrono::duration<double>(middle - start).count());
    }
    if (!ratios.empty()) {
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
        state.counters["ratio_log_on_to_off"] = ratios[ratios.size() / 2];
    }
    viClose(rm);
    std::remove(logPath);
    std::remove((std::string(logPath) + ".data").c_str());
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

// The baseline: the same query and bytes over a plain blocking socket.
void BM_PlainSocketBlock(benchmark::State& state) {
    if (Sim().Port("hislip") == 0) {
        state.SkipWithError("quarvel-sim did not start");
        return;
    }
    const int fd = OpenPlain();
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<unsigned char> buffer(PlainReplySize());
    const SimCost simCost;
    for (auto _ : state) {
        if (!PlainRead(fd, buffer)) {
            state.SkipWithError("short read");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    simCost.Report(state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlockSize));
    close(fd);
}

void BM_Vxi11VsPlain(benchmark::State& state) {
    VisaVsPlain(state, Lan::Vxi11);
}
void BM_SocketVsPlain(benchmark::State& state) {
    VisaVsPlain(state, Lan::Socket);
}
void BM_HislipVsPlain(benchmark::State& state) {
    VisaVsPlain(state, Lan::Hislip);
}

BENCHMARK(BM_PlainSocketBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Vxi11Block)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HislipBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UsbBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Vxi11VsPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketVsPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HislipVsPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Vxi11LogOnVsOff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Remembers each benchmark's rate and paired ratio to print at the end.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            for (const char* counter : {"bytes_per_second", "ratio_to_plain", "sim_faults_per_read",
                                        "sim_ms_per_read", "ratio_log_on_to_off"})
                if (const auto it = run.counters.find(counter); it != run.counters.end())
                    m_values[counter][run.run_name.str()].push_back(it->second.value);
            // The benchmark's own CPU time per read: the client's share.
            if (run.iterations > 0)
                m_values["client_ms_per_read"][run.run_name.str()].push_back(
                    run.cpu_accumulated_time * 1e3 / static_cast<double>(run.iterations));
        }
    }
    void PrintSummary() {
        // The median of each benchmark's repetitions.
        const std::pair<const char*, std::map<std::string, double>*> kept[] = {
            {"bytes_per_second", &m_rates},
            {"ratio_to_plain", &m_ratios},
            {"sim_faults_per_read", &m_faults},
            {"sim_ms_per_read", &m_simMs},
            {"client_ms_per_read", &m_clientMs}};
        for (const auto& [counter, into] : kept)
            for (auto& [name, values] : m_values[counter]) {
                std::sort(values.begin(), values.end());
                const std::size_t n = values.size();
                (*into)[name] =
                    n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
            }
        for (const auto& [name, rate] : m_rates) {
            const auto faults = m_faults.find(name);
            const auto simMs = m_simMs.find(name);
            std::printf("%-32s %8.1f MB/s", name.c_str(), rate / 1e6);
            if (faults != m_faults.end() && simMs != m_simMs.end())
                std::printf(", simulator per read: %.0f page faults, %.2f ms CPU", faults->second,
                            simMs->second);
            if (const auto clientMs = m_clientMs.find(name); clientMs != m_clientMs.end())
                std::printf("; client %.2f ms CPU", clientMs->second);
            std::printf("\n");
        }
        const auto plain = m_rates.find("BM_PlainSocketBlock/real_time");
        // Each path's own run against the plain socket's run.
        const std::pair<const char*, double> paths[] = {{"BM_Vxi11Block/real_time", 0.8},
                                                        {"BM_SocketBlock/real_time", 0.5},
                                                        {"BM_HislipBlock/real_time", 0.8}};
        for (const auto& [name, target] : paths) {
            const auto it = m_rates.find(name);
            if (it != m_rates.end() && plain != m_rates.end() && plain->second > 0)
                std::printf("rate  %-26s %7.1f MB/s vs plain %7.1f MB/s, ratio %.2f (target >= "
                            "%.2f)\n",
                            name, it->second / 1e6, plain->second / 1e6, it->second / plain->second,
                            target);
        }
        // The same in CPU time (client and simulator), which the machine's
        // load moves much less than the rates.
        const auto cpu = [this](const std::string& name) {
            const auto client = m_clientMs.find(name);
            const auto sim = m_simMs.find(name);
            return client == m_clientMs.end() || sim == m_simMs.end()
                       ? 0.0
                       : client->second + sim->second;
        };
        const double plainCpu = cpu("BM_PlainSocketBlock/real_time");
        for (const auto& [name, target] : paths)
            if (cpu(name) > 0 && plainCpu > 0)
                std::printf("cpu   %-26s %7.2f ms per read vs plain %7.2f ms, ratio %.2f\n", name,
                            cpu(name), plainCpu, plainCpu / cpu(name));
        const std::pair<const char*, double> targets[] = {{"BM_Vxi11VsPlain/real_time", 0.8},
                                                          {"BM_SocketVsPlain/real_time", 0.5},
                                                          {"BM_HislipVsPlain/real_time", 0.8}};
        for (const auto& [name, target] : targets) {
            const auto it = m_ratios.find(name);
            if (it != m_ratios.end())
                std::printf("ratio %-26s %5.2f of the plain socket (target >= %.2f)\n", name,
                            it->second, target);
        }
        for (const auto& [name, values] : m_values["ratio_log_on_to_off"]) {
            std::vector<double> sorted = values;
            std::sort(sorted.begin(), sorted.end());
            if (!sorted.empty())
                std::printf("ratio %-26s %5.2f: a 4 MB read with the I/O log on takes this many "
                            "times as long as with it off%s\n",
                            name.c_str(), sorted[sorted.size() / 2],
                            name.find("/1/") != std::string::npos ? " (payloads kept)" : "");
        }
        const auto usb = m_rates.find("BM_UsbBlock/real_time");
        const auto socket = m_rates.find("BM_SocketBlock/real_time");
        if (usb != m_rates.end() && socket != m_rates.end() && plain != m_rates.end() &&
            socket->second > 0 && plain->second > 0)
            std::printf("ratio %-26s %5.2f of the plain socket, %.2f of VISA SOCKET\n",
                        usb->first.c_str(), usb->second / plain->second,
                        usb->second / socket->second);
    }

private:
    std::map<std::string, double> m_rates;
    std::map<std::string, double> m_ratios;
    std::map<std::string, double> m_faults;
    std::map<std::string, double> m_simMs;
    std::map<std::string, double> m_clientMs;
    // Every repetition's value of each counter, by counter and benchmark.
    std::map<std::string, std::map<std::string, std::vector<double>>> m_values;
};

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    // Unless told otherwise: five runs of each benchmark, all in random order,
    // so that a change of the machine's load meets every path alike.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    if (std::none_of(args.begin(), args.end(), [](const char* arg) {
            return std::strncmp(arg, "--benchmark_repetitions", 23) == 0;
        })) {
        args.push_back(repetitions.data());
        args.push_back(interleaving.data());
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
