#pragma once

// The conversation an I/O log recorded (docs/visa.md, "I/O log"), as the
// replayed instrument plays it: each program message the client sent, the
// bytes the instrument answered with, and how long it took to answer.
//
// A log is outside input (a user's file): it is read in one place
// (visa/io_log_format.cpp parses its lines) and bounded here: at most
// kMaxLogBytes of log, kMaxExchanges messages, kMaxReplayBytes of replies.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sim {

inline constexpr std::size_t kMaxLogBytes = 256u << 20;
inline constexpr std::size_t kMaxExchanges = 1u << 20;
inline constexpr std::uint64_t kMaxReplayBytes = 2ull << 30;
// A recorded wait longer than this is taken as this (a user who paused).
inline constexpr double kMaxReplayDelayMs = 60'000;

struct Exchange {
    std::string command;  // the program message, without its terminator
    std::string reply;    // what the instrument sent after it (may be empty)
    double delayMs = 0;   // from the end of the command to the reply's first bytes
    std::size_t line = 0; // the log line of the command's (last) write
};

struct ReplayScript {
    std::vector<Exchange> exchanges;
    // The first USB resource of the log ("USB0::0x1AB1::0x04CE::DS1ZA..."):
    // replayed over USB with its IDs; empty when it was recorded over LAN.
    std::string usbResource;
};

// Reads `size` bytes at `offset` of the side file named `name` into out;
// false with error when it cannot.
using SideFileReader =
    std::function<bool(const std::string& name, std::uint64_t offset, std::uint64_t size,
                       std::string& out, std::string& error)>;

// Builds the script from a log's text. False with error ("line 12: ...")
// on the first line that is not of the format, a binary payload the side
// file does not hold (or whose hash differs), or a limit exceeded.
bool BuildReplayScript(std::string_view logText, const SideFileReader& sideFile,
                       ReplayScript& script, std::string& error);

// Reads the log at path (and its side file, beside it) and builds the script.
bool LoadReplayScript(const std::string& path, ReplayScript& script, std::string& error);

} // namespace quarvel::sim
