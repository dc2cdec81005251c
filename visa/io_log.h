#pragma once

// The I/O log (docs/visa.md, "I/O log"): while it runs, every operation the
// sessions of our own transports do is written to a file as one line, and
// optionally the whole binary payloads to a side file beside it. One log per
// process; it is started by QUARVEL_IO_LOG at the first viOpenDefaultRM or by
// qviStartIoLog, and stopped by qviStopIoLog.
//
// Off, it costs each transport call one relaxed atomic load.

#include "codec/io_log_format.h"
#include "visa/visa_internal.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel::visa::iolog {

inline std::atomic<bool> g_running{false};
inline bool Running() {
    return g_running.load(std::memory_order_relaxed);
}

using Clock = std::chrono::steady_clock;

// Who a session's lines name: its handle and its resource string.
struct Subject {
    ViSession session = VI_NULL;
    std::string resource;
};

// Writes one line for an operation that began at start and has just
// returned status (no-op when the log is not running).
void Note(const Subject& subject, Op op, Clock::time_point start, ViStatus status,
          End end = End::None, const std::uint8_t* data = nullptr, std::size_t size = 0);

// Starts the log from QUARVEL_IO_LOG / QUARVEL_IO_LOG_DATA once per process
// (the first resource manager); a file that cannot be opened is reported on
// stderr once, and the program goes on without a log.
void StartFromEnvironment();

} // namespace quarvel::visa::iolog
