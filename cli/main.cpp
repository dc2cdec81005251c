#include "cli/commands.h"

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
    {"scpi", "scpi [--timeout MS] [--portmapper-port N] ADDRESS COMMAND...", RunScpiCommand},
    {"screenshot",
     "screenshot [--timeout MS] [--portmapper-port N] [--ink-saver] [--force] ADDRESS FILE",
     RunScreenshotCommand},
    {"capture",
     "capture ADDRESS [--dir D] [--name PATTERN] [--sequence N] [--format EXT] [--comments TEXT] "
     "[--comments-file NAME] [--save-idn] [--stop] [--ink-saver] [--delay S] [--timeout MS] "
     "[--portmapper-port N]",
     RunCaptureCommand},
};

void PrintUsage() {
    std::fprintf(stderr, "usage: quarvel-cli COMMAND [ARGS...]\n");
    for (const auto& c : kCommands)
        std::fprintf(stderr, "  quarvel-cli %s\n", c.usage);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage();
        return 2;
    }
    for (const auto& c : kCommands)
        if (std::strcmp(argv[1], c.name) == 0)
            return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "quarvel-cli: unknown command '%s'\n", argv[1]);
    PrintUsage();
    return 2;
}
