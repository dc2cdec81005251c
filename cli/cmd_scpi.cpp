// quarvel-cli scpi: sends each command through the VISA layer and prints the
// reply of each query (a command with '?').

#include "cli/commands.h"
#include "cli/connection_options.h"
#include "visa/visa.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* USAGE = "usage: quarvel-cli scpi [--timeout MS] [--portmapper-port N] "
                              "ADDRESS COMMAND...\n";
// Replies longer than this are cut (and the rest of the reply dropped).
constexpr ViUInt32 kReplyBufferSize = 1024 * 1024;

struct ScpiOptions {
    ConnectionOptions connection;
    std::string address;
    std::vector<std::string> commands;
};

bool ParseArguments(int argc, char** argv, ScpiOptions& options) {
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string_view option = argv[i];
        if (!IsConnectionOption(option)) {
            std::fprintf(stderr, "quarvel-cli scpi: unknown option '%s'\n", argv[i]);
            return false;
        }
        const bool isTimeout = option == "--timeout";
        if (i + 1 >= argc || !ParseConnectionOption(option, argv[i + 1], options.connection)) {
            std::fprintf(stderr, "quarvel-cli scpi: %s needs a number (%s)\n", argv[i],
                         isTimeout ? "milliseconds, 1 to 3600000" : "a TCP port, 1 to 65535");
            return false;
        }
        ++i;
    }
    if (argc - i < 2) {
        std::fputs(USAGE, stderr);
        return false;
    }
    options.address = argv[i++];
    for (; i < argc; ++i)
        options.commands.emplace_back(argv[i]);
    return true;
}

int Fail(const char* what, const std::string& detail, ViStatus status) {
    std::fprintf(stderr, "quarvel-cli scpi: %s %s failed: %s (0x%08X)\n", what, detail.c_str(),
                 qviStatusName(status), static_cast<unsigned>(status));
    return 1;
}

// Closes the sessions however the command ends.
struct Sessions {
    ViSession rm = VI_NULL;
    ViSession instrument = VI_NULL;
    ~Sessions() {
        if (instrument != VI_NULL)
            viClose(instrument);
        if (rm != VI_NULL)
            viClose(rm);
    }
};

} // namespace

int RunScpiCommand(int argc, char** argv) {
    ScpiOptions options;
    if (!ParseArguments(argc, argv, options))
        return 2;
    Sessions sessions;
    if (const ViStatus s = viOpenDefaultRM(&sessions.rm); s != VI_SUCCESS)
        return Fail("opening the resource manager", "", s);
    // Set on the resource manager, the timeout also bounds viOpen.
    if (options.connection.timeoutMs != 0)
        viSetAttribute(sessions.rm, VI_ATTR_TMO_VALUE, options.connection.timeoutMs);
    ApplyPortmapperPort(sessions.rm, options.connection);
    if (const ViStatus s =
            viOpen(sessions.rm, options.address.c_str(), VI_NULL, 0, &sessions.instrument);
        s != VI_SUCCESS) {
        sessions.instrument = VI_NULL;
        return Fail("opening", options.address, s);
    }
    std::vector<char> reply(kReplyBufferSize);
    for (const std::string& command : options.commands) {
        if (const ViStatus s = viPrintf(sessions.instrument, "%s\n", command.c_str());
            s != VI_SUCCESS)
            return Fail("sending", "'" + command + "'", s);
        if (command.find('?') == std::string::npos)
            continue;
        ViUInt32 count = kReplyBufferSize;
        if (const ViStatus s = viScanf(sessions.instrument, "%#t", &count, reply.data());
            s != VI_SUCCESS)
            return Fail("reading the reply to", "'" + command + "'", s);
        // The reply's own terminator (LF or CR LF) is replaced by one line end.
        while (count > 0 && (reply[count - 1] == '\n' || reply[count - 1] == '\r'))
            --count;
        std::fwrite(reply.data(), 1, count, stdout);
        std::fputc('\n', stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
