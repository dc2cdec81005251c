// quarvel-cli list: prints what the VISA layer finds (USB/IP servers, VXI-11
// broadcast and probe, DNS-SD, a loaded VISA library's own list), one resource a line, with its
// *IDN? reply when asked (--idn); the identifications are queried side by side.

#include "cli/commands.h"
#include "cli/connection_options.h"
#include "instr/instrument_finder.h"
#include "visa/visa.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr const char* USAGE =
    "usage: quarvel-cli list [--idn] [--probe HOSTS]\n"
    "                        [--method broadcast|probe|dnssd|usb|library[,...]]...\n"
    "                        [--timeout MS] [--verbose] [--usbip HOST:PORT] "
    "[--portmapper-port N]\n"
    "                        [--visa-library PATH | --visa-library-all PATH]\n";

constexpr std::string_view kMethods[] = {"broadcast", "probe", "dnssd", "usb", "library"};

struct ListOptions {
    ConnectionOptions connection;
    bool idn = false;
    bool verbose = false;
    std::string methods; // "probe,dnssd"; empty: the library's default
    std::string probeHosts;
};

void Append(std::string& list, std::string_view item) {
    if (!list.empty())
        list += ',';
    list += item;
}

// One method or several separated by commas ("library,probe").
bool AreMethods(std::string_view names) {
    for (;;) {
        const std::size_t comma = names.find(',');
        const std::string_view name = names.substr(0, comma);
        bool known = false;
        for (std::string_view m : kMethods)
            known = known || name == m;
        if (!known)
            return false;
        if (comma == std::string_view::npos)
            return true;
        names.remove_prefix(comma + 1);
    }
}

bool ParseArguments(int argc, char** argv, ListOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool takesValue =
            option == "--method" || option == "--probe" || IsConnectionOption(option);
        if (takesValue && i + 1 >= argc) {
            std::fprintf(stderr, "quarvel-cli list: %s needs a value\n", argv[i]);
            return false;
        }
        if (option == "--idn") {
            options.idn = true;
        } else if (option == "--verbose") {
            options.verbose = true;
        } else if (option == "--method") {
            if (!AreMethods(argv[i + 1])) {
                std::fprintf(stderr, "quarvel-cli list: --method needs broadcast, probe, dnssd, "
                                     "usb or library\n");
                return false;
            }
            Append(options.methods, argv[++i]);
        } else if (option == "--probe") {
            Append(options.probeHosts, argv[++i]);
        } else if (IsConnectionOption(option)) {
            if (!ParseConnectionOption(option, argv[i + 1], options.connection)) {
                std::fprintf(stderr, "quarvel-cli list: %s needs %s\n", argv[i],
                             ConnectionOptionValueText(option));
                return false;
            }
            ++i;
        } else {
            std::fprintf(stderr, "quarvel-cli list: unknown option '%s'\n", argv[i]);
            std::fputs(USAGE, stderr);
            return false;
        }
    }
    return true;
}

} // namespace

int RunListCommand(int argc, char** argv) {
    ListOptions options;
    if (!ParseArguments(argc, argv, options))
        return 2;
    quarvel::instr::FindRequest request;
    request.methods = options.methods;
    request.probeHosts = options.probeHosts;
    // Portmapper port, USB/IP servers and another VISA library (whose
    // sessions the identifications then use) as every command gives them.
    request.prepare = [&options](ViSession rm) {
        return ApplyResourceManagerOptions(rm, options.connection, "list");
    };
    request.timeoutMs = options.connection.timeoutMs;
    request.identify = options.idn;
    const quarvel::instr::FindResult result = quarvel::instr::FindInstruments(request);
    if (result.status == VI_ERROR_LIBRARY_NFOUND)
        return 1; // ApplyResourceManagerOptions said why
    if (result.status == VI_ERROR_NSUP_ATTR_STATE) {
        std::fprintf(stderr,
                     "quarvel-cli list: --probe needs IPv4 hosts, ranges (127.0.0.1-127.0.0.9), "
                     "networks (192.168.1.0/24) or host names, at most 4096 hosts in all\n");
        return 2;
    }
    if (options.verbose) {
        std::size_t start = 0;
        while (start < result.report.size()) {
            const std::size_t end = result.report.find('\n', start);
            std::fprintf(stderr, "quarvel-cli list: %s\n",
                         result.report.substr(start, end - start).c_str());
            start = end == std::string::npos ? result.report.size() : end + 1;
        }
    }
    if (result.status != VI_SUCCESS) {
        std::fprintf(stderr, "quarvel-cli list: the search failed: %s\n",
                     qviStatusName(result.status));
        return 1;
    }
    for (const auto& found : result.instruments) {
        if (options.idn)
            std::printf("%s %s\n", found.resource.c_str(), found.identification.c_str());
        else
            std::printf("%s\n", found.resource.c_str());
    }
    return 0;
}
