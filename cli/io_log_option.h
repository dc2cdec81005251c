#pragma once

// --io-log FILE and --io-log-data, which every quarvel-cli command takes:
// the VISA layer's I/O log of the command's conversation (docs/visa.md).

inline constexpr const char* kIoLogUsage = "--io-log FILE [--io-log-data]";

// Removes the options from argv (after the command name, argv[1]) and starts
// the log they ask for. False, after printing why, when FILE is missing or
// cannot be opened for appending.
bool TakeIoLogOptions(int& argc, char** argv, const char* command);
