#pragma once

// The progress of one session's transfer, reported to the handler set with
// qviSetProgressHandler. The session says where a message starts and how long
// it is when it learns that; the socket layer counts the bytes and wakes from
// its waits often enough that the handler runs at least every
// kMaxReportGap and at least every kMaxPiece bytes, even while nothing
// arrives. A handler's cancel sticks until the next VISA call begins.

#include "visa/visa.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quarvel::visa {

class ProgressMeter {
public:
    // The longest a wait may block without reporting; waits wake this often.
    static constexpr std::chrono::milliseconds kWakeInterval{20};
    // A report is due this long after the previous one: less than
    // kWakeInterval, so every wake that finds nothing reports, and data that
    // arrives every 20 ms (a paced instrument) gets a report per piece. No two
    // reports are more than about 35 ms apart, so a window that processes its
    // events from the reports stays live.
    static constexpr std::chrono::milliseconds kReportInterval{15};
    // The most bytes moved in one piece, and between two reports.
    static constexpr std::size_t kMaxPiece = 64 * 1024;

    void SetHandler(ViSession vi, QviProgressHandler handler, ViAddr userData);
    bool Active() const { return m_handler != nullptr; }
    QviProgressHandler Handler() const { return m_handler; }
    ViAddr UserData() const { return m_userData; }

    // A VISA call begins: no transfer under way, an earlier cancel forgotten.
    void BeginCall();
    // A message of size bytes goes out.
    void StartWrite(std::uint64_t size);
    // A reply starts coming in (its length unknown), unless one already is.
    void StartRead();
    // The reply's whole length, once known (a definite-length block header).
    void SetExpected(std::uint64_t total);
    // The caller learnt from the reply itself that `remaining` more bytes
    // of it follow what it has taken, `buffered` of which have arrived
    // already: the count starts anew there, with that total, and goes on
    // across the caller's next calls until the total has come (a write or a
    // cancel ends it sooner).
    void ExpectRemaining(std::uint64_t remaining, std::uint64_t buffered);
    std::uint64_t Done() const { return m_done; }
    // How many bytes the next piece may move without passing a report that
    // is due (at least 1; kMaxPiece when no handler is set).
    std::size_t PieceLimit() const;

    // Bytes sent or received; the ones that are not part of the transfer
    // under way (the call half of a VXI-11 device_read) are not counted.
    // VI_ERROR_ABORT once the handler has asked to cancel.
    ViStatus Sent(std::size_t n) { return Moved(Direction::Write, n); }
    ViStatus Received(std::size_t n) { return Moved(Direction::Read, n); }
    // Bytes that Received counted but that were the transport's own framing
    // (VXI-11 record marks, RPC headers, XDR padding), not the message.
    void ReceivedFraming(std::size_t n);
    // A wait woke up with nothing to do.
    ViStatus Waiting();
    bool Cancelled() const { return m_cancelled || Interrupted(); }

    // viClose from another thread while a call is under way: the call's
    // waits end (they wake every kWakeInterval while a meter is given, with
    // or without a handler) and it returns VI_ERROR_ABORT. Any thread may
    // call these; a handler's cancel is for the calling thread only.
    void Interrupt() { m_interrupted.store(true, std::memory_order_relaxed); }
    bool Interrupted() const { return m_interrupted.load(std::memory_order_relaxed); }
    // The interrupted call has returned: what is left to do (closing the
    // link) may wait for the device again.
    void Resume() { m_interrupted.store(false, std::memory_order_relaxed); }

private:
    enum class Direction { None, Write, Read };
    ViStatus Moved(Direction direction, std::size_t n);
    ViStatus Report();

    ViSession m_vi = VI_NULL;
    QviProgressHandler m_handler = nullptr;
    ViAddr m_userData = nullptr;
    Direction m_direction = Direction::None;
    std::uint64_t m_done = 0;
    std::uint64_t m_expected = QVI_SIZE_UNKNOWN;
    std::uint64_t m_reportedDone = 0;
    std::chrono::steady_clock::time_point m_lastReport;
    bool m_cancelled = false;
    std::atomic<bool> m_interrupted{false};
    // The reply under way spans calls (see ExpectRemaining).
    bool m_spanning = false;
};

} // namespace quarvel::visa
