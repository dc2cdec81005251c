#include "tests/support/cli_run.h"

#include <cstdio>
#include <sys/wait.h>

namespace quarvel::test {

CliRun RunCli(const TempDir& logs, const std::vector<std::string>& args) {
    std::string command = QUARVEL_CLI_PATH;
    for (const auto& a : args)
        command += " '" + a + "'";
    int status = -1;
    CliRun run;
    run.out = CommandOutput(command + " 2>" + logs.File("cli.err") + " </dev/null", &status);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadFileText(logs.File("cli.err"));
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
