#include "cli/commands.h"
#include "cli/io_log_option.h"
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
     "[--visa-library PATH | --visa-library-all PATH] [--ink-saver] [--force] [--raw] ADDRESS FILE",
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

// On standard output when asked for, on standard error after a mistake.
void PrintUsage(std::FILE* to) {
    std::fprintf(to, "usage: quarvel-cli COMMAND [ARGS...]\n");
    for (const auto& c : kCommands)
        std::fprintf(to, "  quarvel-cli %s\n", c.usage);
    std::fprintf(to,
                 "  quarvel-cli help [COMMAND] | COMMAND --help | --help | --version\n"
                 "Every command also takes %s.\n"
                 "See quarvel-cli(1) for the options.\n",
                 kIoLogUsage);
}

const CliCommand* FindCommand(const char* name) {
    for (const auto& c : kCommands)
        if (std::strcmp(name, c.name) == 0)
            return &c;
    return nullptr;
}

bool IsHelpWord(const char* word) {
    return std::strcmp(word, "help") == 0 || std::strcmp(word, "--help") == 0 ||
           std::strcmp(word, "-h") == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("quarvel-cli %s\n", quarvel::kVersion);
        return 0;
    }
    if (IsHelpWord(argv[1])) {
        if (argc == 2) {
            PrintUsage(stdout);
            return 0;
        }
        if (const CliCommand* command = FindCommand(argv[2]); command != nullptr && argc == 3) {
            std::printf("usage: quarvel-cli %s\n", command->usage);
            return 0;
        }
        std::fprintf(stderr, "quarvel-cli: no help for '%s'\n", argv[2]);
        PrintUsage(stderr);
        return 2;
    }
    if (const CliCommand* command = FindCommand(argv[1]); command != nullptr) {
        if (argc == 3 && std::strcmp(argv[2], "--help") == 0) {
            std::printf("usage: quarvel-cli %s [%s]\n", command->usage, kIoLogUsage);
            return 0;
        }
        if (!TakeIoLogOptions(argc, argv, command->name))
            return 2;
        return command->run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "quarvel-cli: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
