#pragma once

// Command-line options of quarvel-sim.

#include "sim/family_support.h"
#include "sim/faults.h"
#include "sim/usbtmc_function.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quarvel::sim {

struct SimOptions {
    std::string instrument = "generic";
    std::string idn; // empty: the family's default
    std::string address = "127.0.0.1";
    std::uint16_t socketPort = 5025;
    bool portmapper = true;
    std::uint16_t portmapperPort = 111;
    bool hislip = true;
    std::uint16_t hislipPort = 4880;
    bool usbip = false;
    bool publish = false; // announce the services by DNS-SD (Avahi)
    std::uint16_t usbipPort = 0;
    UsbOptions usb;
    std::string transcriptPath;
    std::string pcapPath; // --pcap: recording of every conversation
    std::string dumpImagesDir;
    std::string faultOn; // header pattern limiting the faults; empty: every reply
    FaultOptions faults;
    QuirkOptions quirks;
    std::vector<std::pair<std::string, std::string>> habits; // --habit NAME=VALUE
    std::string imageQuery;                                  // generic: --image-query
    bool imageRaw = false;                                   // generic: --image-framing raw
    bool help = false;
    bool version = false;
};

// Parses the arguments (without the program name). False with a message on
// the first bad argument.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

std::string SimUsage();

// The instrument the options describe, as CreateInstrument takes it.
InstrumentSetup SetupFor(const SimOptions& options);

} // namespace quarvel::sim
