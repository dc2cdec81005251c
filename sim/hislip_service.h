#pragma once

// The HiSLIP server (IVI-6.1, versions 1.0 to 2.0) of the simulator without
// any socket: it takes one decoded message of either channel and says what
// to send back, so the server, the tests and the fuzzer drive the same code.
//
// A client session is a synchronous and an asynchronous connection joined by
// the session id of InitializeResponse. Program messages arrive in Data and
// DataEnd messages; each response goes back as Data messages ending with a
// DataEnd that carries the MessageID of the message that completed the
// query. The server works in synchronized mode; device clear, the status
// byte, locks and the maximum message size are handled on the asynchronous
// channel.

#include "codec/hislip_message.h"
#include "sim/faults.h"
#include "sim/session.h"
#include "sim/sim_instrument.h"
#include "sim/transcript.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sim {

using HislipBytes = std::vector<std::uint8_t>;
using HislipView = std::span<const std::uint8_t>;

// One response waiting to be sent on the synchronous channel.
struct HislipResponse {
    OutgoingReply reply;
    std::uint32_t messageId = 0;
};

// The state of one client session that both of its channels share.
struct HislipSessionState {
    HislipSessionState(std::uint16_t sessionId, Session programSession)
        : id(sessionId), session(std::move(programSession)) {}
    std::uint16_t id;
    Session session;
    // Largest message the client accepts (AsyncMaximumMessageSize).
    std::uint64_t clientMaxMessage = 1u << 20;
    // Set by AsyncDeviceClear until DeviceClearComplete: responses under way
    // are abandoned and program messages received meanwhile dropped.
    std::atomic<bool> clearing{false};
    std::uint32_t lastMessageId = 0;
    // The sockets of the two channels (-1 once closed), and the lock that
    // orders sends on the asynchronous channel from both threads. Socket-free
    // callers leave them alone.
    std::mutex channelMutex;
    int syncFd = -1;
    int asyncFd = -1;
};

// What the server sends after one message, and whether it closes.
struct HislipOutcome {
    HislipBytes immediate;                 // sent at once on the same channel
    std::vector<HislipResponse> responses; // sync channel: program responses, in order
    bool close = false;                    // close both channels afterwards
};

class HislipService {
public:
    // Largest message (header included) the server accepts and announces.
    static constexpr std::uint64_t kServerMaxMessage = 1u << 20;
    static constexpr std::size_t kMaxSessions = 64;
    // The longest the server waits for a lock, whatever the request asks.
    static constexpr std::uint32_t kMaxLockWaitMs = 600'000;
    // "QS", the simulator's vendor id.
    static constexpr std::uint16_t kVendorId = 0x5153;

    HislipService(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults);

    // The first message of a connection. Initialize opens a session (its
    // state is returned through session); AsyncInitialize joins one. Anything
    // else is answered with a FatalError and close.
    HislipOutcome Initialize(const visa::hislip::Header& header, HislipView payload,
                             std::shared_ptr<HislipSessionState>& session, bool& isSync);
    HislipOutcome HandleSync(HislipSessionState& session, const visa::hislip::Header& header,
                             HislipView payload);
    HislipOutcome HandleAsync(HislipSessionState& session, const visa::hislip::Header& header,
                              HislipView payload);
    // A channel closed: the session goes, and its lock with it.
    void EndSession(std::uint16_t sessionId);

    // The messages that carry a response: Data messages no larger than the
    // client admits (with at most fragment payload bytes when fragment > 0),
    // the last one a DataEnd. The payloads point into bytes (no copy).
    struct Piece {
        std::array<std::uint8_t, visa::hislip::kHeaderSize> header;
        std::string_view payload;
    };
    static std::vector<Piece> FrameResponse(std::string_view bytes, std::uint32_t messageId,
                                            std::uint64_t clientMaxMessage, std::size_t fragment);

private:
    HislipOutcome Lock(HislipSessionState& session, const visa::hislip::Header& header,
                       HislipView payload);

    SimInstrument& m_instrument;
    Transcript* m_transcript;
    const FaultOptions& m_faults;
    std::mutex m_mutex;
    std::map<std::uint16_t, std::shared_ptr<HislipSessionState>> m_sessions;
    std::uint16_t m_nextSessionId = 1;
    // The exclusive lock: the session holding it (0: none); shared holders by key.
    std::uint16_t m_exclusiveHolder = 0;
    std::map<std::uint16_t, std::string> m_sharedHolders;
};

} // namespace quarvel::sim
