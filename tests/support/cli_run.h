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
// output (through a pipe) and error (through a file in `logs`) come back in
// the result.
CliRun RunCli(const TempDir& logs, const std::vector<std::string>& args);

// Runs a shell command (another program the tests hold ours against:
// ImageMagick, usbip, nm...); what it printed on standard output, and its
// wait status in `status` when given.
std::string CommandOutput(const std::string& command, int* status = nullptr);

} // namespace quarvel::test
