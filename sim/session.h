#pragma once

// One client's conversation with the instrument, independent of the
// transport: received bytes are cut into program messages at LF (and at the
// END of a VXI-11 write), each message is recorded in the transcript, run by
// the instrument, and its response is prepared with the fault options.

#include "sim/faults.h"
#include "sim/sim_instrument.h"
#include "sim/transcript.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sim {

class Session {
public:
    // A program message longer than this is discarded with error -223.
    static constexpr std::size_t kMaxMessage = 1u << 20;

    Session(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults)
        : m_instrument(instrument), m_transcript(transcript), m_faults(faults) {}

    // Feeds received bytes; end=true ends the message even without LF.
    // Returns the replies of the messages completed, in order.
    std::vector<OutgoingReply> Feed(std::string_view bytes, bool end);

    // Drops a partly received message (device clear).
    void Clear() {
        m_input.clear();
        m_discarding = false;
    }

    const FaultOptions& Faults() const { return m_faults; }
    SimInstrument& Instrument() const { return m_instrument; }

    // A raw socket has no END signal: replies that end in raw bytes get a
    // line feed after them, as LAN instruments end every reply on a socket.
    void SetTerminateRawReplies(bool on) { m_terminateRawReplies = on; }

private:
    void Complete(std::vector<OutgoingReply>& replies);

    SimInstrument& m_instrument;
    Transcript* m_transcript;
    const FaultOptions& m_faults;
    std::string m_input;
    bool m_discarding = false;
    bool m_terminateRawReplies = false;
};

} // namespace quarvel::sim
