#include "tests/support/cli_run.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace quarvel::test {

CliRun RunCli(const TempDir& logs, const std::vector<std::string>& args) {
    std::string command = QUARVEL_CLI_PATH;
    for (const auto& a : args)
        command += " '" + a + "'";
    const std::string outPath = logs.File("cli.out");
    const std::string errPath = logs.File("cli.err");
    command += " >" + outPath + " 2>" + errPath + " </dev/null";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFileText(outPath);
    run.err = ReadFileText(errPath);
    return run;
}

std::string CommandOutput(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr)
            *status = -1;
        return output;
    }
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int ended = pclose(pipe);
    if (status != nullptr)
        *status = ended;
    return output;
}

} // namespace quarvel::test
