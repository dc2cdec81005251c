#include "tests/support/cli_run.h"

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

} // namespace quarvel::test
