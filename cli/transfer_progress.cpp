#include "cli/transfer_progress.h"

#include <cstdio>
#include <unistd.h>

namespace quarvel::cli {

namespace {

// Redrawing more often than this only makes the terminal flicker.
constexpr std::chrono::milliseconds kRedrawInterval{100};

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
}

// "1.25 MB", "812 kB", "96 B".
void FormatBytes(std::uint64_t bytes, char* text, std::size_t size) {
    if (bytes >= 1'000'000)
        std::snprintf(text, size, "%.2f MB", static_cast<double>(bytes) / 1e6);
    else if (bytes >= 1000)
        std::snprintf(text, size, "%llu kB", static_cast<unsigned long long>(bytes / 1000));
    else
        std::snprintf(text, size, "%llu B", static_cast<unsigned long long>(bytes));
}

} // namespace

TransferProgress::TransferProgress()
    : m_terminal(isatty(STDERR_FILENO) == 1), m_start(Clock::now()), m_lastDrawn(m_start) {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_previous);
}

TransferProgress::~TransferProgress() {
    EndLine();
    sigaction(SIGINT, &m_previous, nullptr);
}

bool TransferProgress::Interrupted() const {
    return g_interrupted != 0;
}

bool TransferProgress::Report(std::uint64_t done, std::uint64_t expected) {
    if (Interrupted())
        return true;
    if (!m_terminal)
        return false;
    const Clock::time_point now = Clock::now();
    // A new transfer starts its count again.
    if (done < m_lastDone)
        m_start = now;
    m_lastDone = done;
    const bool complete = expected != QVI_SIZE_UNKNOWN && done >= expected;
    if (!complete && now - m_lastDrawn < kRedrawInterval)
        return false;
    m_lastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    char doneText[32];
    char totalText[32];
    char rateText[32];
    FormatBytes(done, doneText, sizeof doneText);
    FormatBytes(seconds > 0 ? static_cast<std::uint64_t>(done / seconds) : 0, rateText,
                sizeof rateText);
    if (expected == QVI_SIZE_UNKNOWN) {
        std::fprintf(stderr, "\r\033[K%s, %s/s", doneText, rateText);
    } else {
        FormatBytes(expected, totalText, sizeof totalText);
        std::fprintf(stderr, "\r\033[K%s of %s (%u%%), %s/s", doneText, totalText,
                     static_cast<unsigned>(expected > 0 ? done * 100 / expected : 100), rateText);
    }
    std::fflush(stderr);
    m_lineShown = true;
    return false;
}

void TransferProgress::EndLine() {
    if (!m_lineShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_lineShown = false;
}

ViInt32 TransferProgress::Handler(ViSession, ViUInt64 done, ViUInt64 expected, ViAddr userData) {
    return static_cast<TransferProgress*>(userData)->Report(done, expected) ? QVI_PROGRESS_CANCEL
                                                                            : QVI_PROGRESS_CONTINUE;
}

} // namespace quarvel::cli
