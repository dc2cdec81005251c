// quarvel-sim: a simulated test and measurement instrument on loopback.

#include "quarvel/version.h"
#include "sim/dnssd_publisher.h"
#include "sim/screen_image.h"
#include "sim/simulator.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A large reply (a 4 MB block, a screen image) is made in fresh memory for
// every query. By default glibc maps such a block on its own, or trims a
// connection thread's heap once the block is freed, so the next reply faults
// every page in again: about 2 000 faults per 4 MB reply, most of its time on
// a virtual machine. Blocks up to 32 MB come from the heap instead, and freed
// memory stays with the process for the next reply.
void KeepLargeBlocks() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

} // namespace

int main(int argc, char** argv) {
    using namespace quarvel::sim;
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "quarvel-sim: %s\n(see quarvel-sim --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quarvel-sim %s\n", quarvel::kVersion);
        return 0;
    }

    // SIGTERM and SIGINT are taken by sigwait below, not by any thread; the
    // mask is set before any thread (Qt's included) starts, so all inherit it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    KeepLargeBlocks();

    // No QGuiApplication: images are painted on QImage with the simulator's
    // own pixel font, so no platform plugin, display or runtime directory is
    // needed.
    Simulator simulator(options);
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "quarvel-sim: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& line : simulator.EndpointLines())
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);

    DnssdPublisher publisher;
    if (options.publish) {
        std::vector<DnssdService> services = {{"_scpi-raw._tcp", simulator.SocketPort()}};
        if (options.portmapper)
            services.push_back({"_vxi-11._tcp", simulator.PortmapperPort()});
        if (options.hislip)
            services.push_back({"_hislip._tcp", simulator.HislipPort()});
        const auto print = [](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        };
        if (!publisher.Start("quarvel-sim " + options.instrument + " on " + options.address +
                                 " port " + std::to_string(simulator.SocketPort()),
                             options.address, std::move(services), print, error))
            print("dnssd failed: " + error);
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    simulator.Stop();
    return 0;
}
