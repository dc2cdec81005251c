#include "sim/session.h"

#include <utility>

namespace quarvel::sim {

void Session::Complete(std::vector<OutgoingReply>& replies) {
    if (m_discarding) {
        m_discarding = false;
        m_input.clear();
        return;
    }
    std::string_view message = m_input;
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n'))
        message.remove_suffix(1);
    if (!message.empty()) {
        if (m_transcript != nullptr)
            m_transcript->Record(message);
        ResponseMessage response = m_instrument.Execute(message);
        // Raw replies that already end in a line feed (hand-made test blocks)
        // are left as they are.
        if (m_terminateRawReplies && response.unterminated && response.bytes.back() != '\n')
            response.bytes += '\n';
        if (!response.Empty())
            replies.push_back(ApplyFaults(std::move(response), m_faults));
    }
    m_input.clear();
}

std::vector<OutgoingReply> Session::Feed(std::string_view bytes, bool end) {
    std::vector<OutgoingReply> replies;
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, lf);
        if (!m_discarding) {
            if (m_input.size() + piece.size() > kMaxMessage) {
                m_discarding = true;
                m_input.clear();
                m_instrument.QueueError(-223, "Too much data");
            } else {
                m_input.append(piece);
            }
        }
        if (lf == std::string_view::npos)
            break;
        Complete(replies);
        bytes.remove_prefix(lf + 1);
    }
    if (end && (!m_input.empty() || m_discarding))
        Complete(replies);
    return replies;
}

} // namespace quarvel::sim
