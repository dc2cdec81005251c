#include "cli/commands.h"
#include "quarvel/version.h"

#include <cstdio>
#include <cstring>

namespace {

struct CliCommand {
    const char* name;
    const char* usage;
    int (*run)(int argc, char** argv);
};

// One row per command.
const CliCommand kCommands[] = {
    {"scpi",
     "scpi [--timeout MS] [--portmapper-port N] [--usbip HOST:PORT] "
     "[--visa-library PATH | --visa-library-all PATH] ADDRESS COMMAND...",
     RunScpiCommand},
    {"screenshot",
     "screenshot [--timeout MS] [--portmapper-port N] [--usbip HOST:PORT] "
     "[--visa-library PATH | --visa-library-all PATH] [--ink-saver] [--force] ADDRESS FILE",
     RunScreenshotCommand},
    {"capture",
     "capture ADDRESS [--dir D] [--name PATTERN] [--sequence N] [--format EXT] [--comments TEXT] "
     "[--comments-file NAME] [--save-idn] [--stop] [--ink-saver] [--delay S] [--timeout MS] "
     "[--portmapper-port N] [--usbip HOST:PORT] [--visa-library PATH | --visa-library-all PATH] "
     "[--waveforms CHAN1,CHAN2,...] [--data-format csv|dirfile]",
     RunCaptureCommand},
    {"list",
     "list [--idn] [--probe HOSTS] [--method M]... [--timeout MS] [--verbose] [--usbip HOST:PORT] "
     "[--visa-library PATH | --visa-library-all PATH]",
     RunListCommand},
    {"families", "families [--check FILE]", RunFamiliesCommand},
};

void PrintUsage() {
    std::fprintf(stderr, "usage: quarvel-cli COMMAND [ARGS...]\n");
    for (const auto& c : kCommands)
        std::fprintf(stderr, "  quarvel-cli %s\n", c.usage);
    std::fprintf(stderr, "  quarvel-cli COMMAND --help\n  quarvel-cli --version\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage();
        return 2;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("quarvel-cli %s\n", quarvel::kVersion);
        return 0;
    }
    for (const auto& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0)
            continue;
        if (argc == 3 && std::strcmp(argv[2], "--help") == 0) {
            std::printf("usage: quarvel-cli %s\n", c.usage);
            return 0;
        }
        return c.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "quarvel-cli: unknown command '%s'\n", argv[1]);
    PrintUsage();
    return 2;
}
