#include "visa/progress.h"

#include <algorithm>

namespace quarvel::visa {

void ProgressMeter::SetHandler(ViSession vi, QviProgressHandler handler, ViAddr userData) {
    m_vi = vi;
    m_handler = handler;
    m_userData = userData;
}

void ProgressMeter::BeginCall() {
    const bool replyGoesOn = m_spanning && !m_cancelled && m_direction == Direction::Read &&
                             m_expected != QVI_SIZE_UNKNOWN && m_done < m_expected;
    m_cancelled = false;
    m_lastReport = std::chrono::steady_clock::now();
    if (replyGoesOn)
        return;
    m_spanning = false;
    m_direction = Direction::None;
    m_done = m_reportedDone = 0;
    m_expected = QVI_SIZE_UNKNOWN;
}

void ProgressMeter::StartWrite(std::uint64_t size) {
    m_spanning = false;
    m_direction = Direction::Write;
    m_done = m_reportedDone = 0;
    m_expected = size;
}

void ProgressMeter::StartRead() {
    if (m_direction == Direction::Read)
        return;
    m_direction = Direction::Read;
    m_done = m_reportedDone = 0;
    m_expected = QVI_SIZE_UNKNOWN;
}

void ProgressMeter::SetExpected(std::uint64_t total) {
    m_expected = std::max(total, m_done);
}

void ProgressMeter::ExpectRemaining(std::uint64_t remaining, std::uint64_t buffered) {
    m_direction = Direction::Read;
    m_done = m_reportedDone = std::min(buffered, remaining);
    m_expected = remaining;
    m_spanning = true;
}

std::size_t ProgressMeter::PieceLimit() const {
    const std::uint64_t since = m_done > m_reportedDone ? m_done - m_reportedDone : 0;
    return since >= kMaxPiece ? 1 : static_cast<std::size_t>(kMaxPiece - since);
}

void ProgressMeter::ReceivedFraming(std::size_t n) {
    if (m_direction == Direction::Read)
        m_done -= std::min<std::uint64_t>(m_done, n);
}

ViStatus ProgressMeter::Moved(Direction direction, std::size_t n) {
    if (Cancelled())
        return VI_ERROR_ABORT;
    if (m_handler == nullptr || direction != m_direction)
        return VI_SUCCESS;
    m_done += n;
    // A reply's last report shows it complete.
    const bool complete = direction == Direction::Read && m_expected != QVI_SIZE_UNKNOWN &&
                          m_done >= m_expected && m_reportedDone < m_expected;
    if (complete || (m_done > m_reportedDone && m_done - m_reportedDone >= kMaxPiece) ||
        std::chrono::steady_clock::now() - m_lastReport >= kReportInterval)
        return Report();
    return VI_SUCCESS;
}

ViStatus ProgressMeter::Waiting() {
    if (Cancelled())
        return VI_ERROR_ABORT;
    if (m_handler == nullptr || std::chrono::steady_clock::now() - m_lastReport < kReportInterval)
        return VI_SUCCESS;
    return Report();
}

ViStatus ProgressMeter::Report() {
    // Bytes past the announced length (a block's terminator) do not push
    // the count over the total.
    m_reportedDone = std::min(m_done, m_expected);
    const ViInt32 answer = m_handler(m_vi, m_reportedDone, m_expected, m_userData);
    m_lastReport = std::chrono::steady_clock::now();
    if (answer == QVI_PROGRESS_CANCEL)
        m_cancelled = true;
    return m_cancelled ? VI_ERROR_ABORT : VI_SUCCESS;
}

} // namespace quarvel::visa
