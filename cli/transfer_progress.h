#pragma once

// Progress and Ctrl+C for the quarvel-cli commands that talk to an
// instrument. While an object lives, SIGINT only sets a flag; the VISA
// progress handler reads it and cancels the transfer under way, so the
// command can end cleanly (nothing partial written) with kExitInterrupted.
// On a terminal the handler also keeps one progress line on standard error
// (bytes, total, rate); when standard error is not a terminal it prints
// nothing.

#include "visa/visa.h"

#include <chrono>
#include <csignal>
#include <cstdint>

namespace quarvel::cli {

// The shell's status for a command ended by SIGINT (128 + 2).
constexpr int kExitInterrupted = 130;

class TransferProgress {
public:
    TransferProgress();
    ~TransferProgress();
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // One report; true when Ctrl+C asks to cancel.
    bool Report(std::uint64_t done, std::uint64_t expected);
    bool Interrupted() const;
    // Ends the progress line, if one is shown.
    void EndLine();

    // For qviSetProgressHandler and CInstrConnection::SetProgressHandler;
    // userData is the TransferProgress.
    static ViInt32 Handler(ViSession session, ViUInt64 done, ViUInt64 expected, ViAddr userData);

private:
    using Clock = std::chrono::steady_clock;
    bool m_terminal = false;
    bool m_lineShown = false;
    Clock::time_point m_start;
    Clock::time_point m_lastDrawn;
    std::uint64_t m_lastDone = 0;
    struct sigaction m_previous {};
};

} // namespace quarvel::cli
