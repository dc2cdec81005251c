#pragma once

#include "tests/support/temp_dir.h"

#include <string>
#include <vector>

namespace quarvel::test {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs quarvel-cli with the arguments (none may contain a quote); its standard
// output and error go through files in `logs` and come back in the result.
CliRun RunCli(const TempDir& logs, const std::vector<std::string>& args);

} // namespace quarvel::test
