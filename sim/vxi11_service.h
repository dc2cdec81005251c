#pragma once

// The VXI-11 core channel (program 0x0607AF, version 1) of the simulator,
// without any socket: it takes one RPC call message and gives the reply
// message, so the server, the tests and the fuzzer drive the same code.
//
// Links belong to the TCP connection that created them (Vxi11Connection).
// device_write gathers data until the END flag; device_read serves the
// pending response up to requestSize, with END on its last piece and
// REQCNT when cut by the count; a read with nothing pending waits for the
// io_timeout and then reports error 15. device_lock gives one link at a time
// the device: writes and reads of other links then fail with error 11 (or
// wait up to their lock_timeout with the wait-lock flag) until it is
// unlocked, its link destroyed or its connection closed.

#include "codec/oncrpc.h"
#include "sim/faults.h"
#include "sim/session.h"
#include "sim/sim_instrument.h"
#include "sim/transcript.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace quarvel::sim {

class Vxi11Connection {
public:
    static constexpr std::size_t kMaxLinks = 16;

private:
    friend class Vxi11Service;
    struct Pending {
        OutgoingReply reply;
        std::size_t offset = 0;
        std::chrono::steady_clock::time_point readyAt;
    };
    struct Link {
        explicit Link(Session s) : session(std::move(s)) {}
        Session session;
        std::deque<Pending> pending;
        std::size_t pendingBytes = 0;
    };
    std::map<std::int32_t, std::unique_ptr<Link>> m_links;
};

class Vxi11Service {
public:
    static constexpr std::uint32_t kDefaultMaxRecvSize = 1u << 20;
    // Unread responses kept per link before the oldest are dropped.
    static constexpr std::size_t kMaxPendingBytes = 64u << 20;
    // The longest a single call waits, whatever io_timeout the client asks.
    static constexpr std::uint32_t kMaxWaitMs = 600'000;

    // sleep(ms) waits and returns false when the server is stopping.
    using Sleeper = std::function<bool(int ms)>;

    Vxi11Service(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults,
                 std::uint32_t abortPort);

    std::uint32_t MaxRecvSize() const { return m_maxRecvSize; }

    // One call's reply. device_read data is not copied into it: a multi-MB
    // copy into a fresh buffer per call cost more than the sending. Such a
    // reply is `reply` (up to the data length), the bytes of `body`, and
    // XdrPadding(body.size()) zero bytes. body views the response in the
    // link's queue, valid until the connection's next call, or in `held`
    // once the response has been read to its end. Not copyable or movable,
    // so the view stays right; one Outcome serves a connection's calls.
    struct Outcome {
        Outcome() = default;
        Outcome(const Outcome&) = delete;
        Outcome& operator=(const Outcome&) = delete;

        visa::rpc::Bytes reply; // empty: no reply
        visa::rpc::ByteView body;
        std::string held;
        bool close = false; // close the connection after the reply

        std::size_t Size() const { return reply.size() + body.size() + Padding(); }
        std::size_t Padding() const { return visa::rpc::XdrPadding(body.size()); }
        // The whole reply in one buffer.
        visa::rpc::Bytes Joined() const;
    };
    // Answers call into outcome (cleared first; its buffers are reused).
    void HandleCall(visa::rpc::ByteView call, Vxi11Connection& connection, const Sleeper& sleep,
                    Outcome& outcome);
    // The connection has ended: the lock of one of its links is released.
    void CloseConnection(Vxi11Connection& connection);

private:
    using Link = Vxi11Connection::Link;
    Link* FindLink(Vxi11Connection& c, std::int32_t id);
    // False (error 11) when another link holds the lock and, with the
    // wait-lock flag, does not release it within lockTimeout.
    bool MayAccess(std::int32_t linkId, std::int32_t flags, std::uint32_t lockTimeout,
                   const Sleeper& sleep);
    void DeviceLock(visa::rpc::XdrReader& in, Vxi11Connection& c, const Sleeper& sleep,
                    visa::rpc::Bytes& out);
    void ReleaseLock(std::int32_t linkId);
    void CreateLink(visa::rpc::XdrReader& in, Vxi11Connection& c, visa::rpc::Bytes& out);
    void DeviceWrite(visa::rpc::XdrReader& in, Vxi11Connection& c, const Sleeper& sleep,
                     visa::rpc::Bytes& out);
    // Sets outcome.body (and .held) for the data; true: close after the reply.
    bool DeviceRead(visa::rpc::XdrReader& in, Vxi11Connection& c, const Sleeper& sleep,
                    Outcome& outcome);

    SimInstrument& m_instrument;
    Transcript* m_transcript;
    const FaultOptions& m_faults;
    std::uint32_t m_abortPort;
    std::uint32_t m_maxRecvSize;
    // Link ids are unique across all connections of the server.
    std::atomic<std::int32_t> m_nextLinkId{1};
    // The link holding the device lock; 0 when none does.
    std::atomic<std::int32_t> m_lockOwner{0};
};

} // namespace quarvel::sim
