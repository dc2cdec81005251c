// quarvel-cli list: prints what viFindRsrc("?*INSTR") finds, one resource a
// line, with its *IDN? reply when asked (--idn).

#include "cli/commands.h"
#include "cli/connection_options.h"
#include "visa/visa.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* USAGE =
    "usage: quarvel-cli list [--idn] [--timeout MS] [--usbip HOST:PORT]\n"
    "                        [--visa-library PATH | --visa-library-all PATH]\n";

struct ListOptions {
    ConnectionOptions connection;
    bool idn = false;
};

bool ParseArguments(int argc, char** argv, ListOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--idn") {
            options.idn = true;
        } else if (IsConnectionOption(option)) {
            if (i + 1 >= argc || !ParseConnectionOption(option, argv[i + 1], options.connection)) {
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

// The *IDN? reply of one resource, or the status that prevented it.
std::string QueryIdn(ViSession rm, const std::string& resource, const ListOptions& options) {
    ViSession vi = VI_NULL;
    ViStatus s = viOpen(rm, resource.c_str(), VI_NULL, VI_NULL, &vi);
    if (s != VI_SUCCESS)
        return std::string("(") + qviStatusName(s) + ")";
    if (options.connection.timeoutMs != 0)
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, options.connection.timeoutMs);
    char reply[256] = {};
    s = viQueryf(vi, "*IDN?\n", "%256t", reply);
    viClose(vi);
    if (s != VI_SUCCESS)
        return std::string("(") + qviStatusName(s) + ")";
    std::string text = reply;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

int RunListCommand(int argc, char** argv) {
    ListOptions options;
    if (!ParseArguments(argc, argv, options))
        return 2;
    ViSession rm = VI_NULL;
    if (viOpenDefaultRM(&rm) != VI_SUCCESS) {
        std::fprintf(stderr, "quarvel-cli list: cannot open the VISA resource manager\n");
        return 1;
    }
    if (!ApplyResourceManagerOptions(rm, options.connection, "list")) {
        viClose(rm);
        return 1;
    }
    // Set on the resource manager, the timeout also bounds the search.
    if (options.connection.timeoutMs != 0)
        viSetAttribute(rm, VI_ATTR_TMO_VALUE, options.connection.timeoutMs);
    std::vector<std::string> found;
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char name[256] = {};
    const ViStatus s = viFindRsrc(rm, "?*INSTR", &list, &count, name);
    if (s == VI_SUCCESS) {
        found.emplace_back(name);
        while (found.size() < count && viFindNext(list, name) == VI_SUCCESS)
            found.emplace_back(name);
        viClose(list);
    } else if (s != VI_ERROR_RSRC_NFOUND) {
        std::fprintf(stderr, "quarvel-cli list: viFindRsrc failed: %s\n", qviStatusName(s));
        viClose(rm);
        return 1;
    }
    for (const std::string& resource : found) {
        if (options.idn)
            std::printf("%s %s\n", resource.c_str(), QueryIdn(rm, resource, options).c_str());
        else
            std::printf("%s\n", resource.c_str());
    }
    viClose(rm);
    return 0;
}
