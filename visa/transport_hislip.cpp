// HiSLIP transport ("TCPIP::host::hislip0[,port]::INSTR", IVI-6.1 versions
// 1.0 to 2.0): a synchronous channel for the messages and their responses and
// an asynchronous one for device clear, the status byte, locks and the
// maximum message size, both TCP connections to the same port.
//
// The client works in synchronized mode without a reader thread: every call
// reads what it waits for within the session timeout. Responses carry the
// MessageID of the message they answer; those of an earlier message (its
// reply arriving after the caller gave up on it) are dropped unread.
// Response data goes straight from the socket into the caller's memory, and
// a timeout in the middle of a message leaves the stream where it was, so
// the next read goes on from there.
//
// A cancel (see progress.h) uses the protocol's own device clear: the
// instrument drops the response under way, and what it had already sent is
// read and dropped up to its DeviceClearAcknowledge. The cancelled call
// waits for that only briefly; the session's next call finishes it, so the
// next command still gets its own reply.

#include "codec/hislip_message.h"
#include "visa/builtin_transports.h"
#include "visa/progress.h"
#include "visa/tcp_connection.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace quarvel::visa {

namespace {

namespace hs = quarvel::visa::hislip;

// The largest message we announce and accept; data is streamed, never held,
// so this bounds nothing in memory, only what a server may claim.
constexpr std::uint64_t kClientMaxMessageSize = 1ull << 30;
// Messages other than Data/DataEnd (error texts, descriptors) are small.
constexpr std::uint64_t kMaxControlPayload = 64 * 1024;
// Async transactions the instrument answers at once wait a little longer than
// the session timeout, so that a lock request's own timeout answers first.
constexpr ViUInt32 kAsyncGraceMs = 1000;
// "QV", the vendor id this client gives in Initialize.
constexpr std::uint16_t kVendorId = 0x5156;
// How long a cancelled call reads the abandoned response on its way to the
// device clear's acknowledgement before it returns; the rest is read at the
// next call. A cancel must end the call within half a second.
constexpr auto kCancelDrainTime = std::chrono::milliseconds(200);

ViUInt32 WithGrace(ViUInt32 timeoutMs) {
    return timeoutMs >= VI_TMO_INFINITE - kAsyncGraceMs ? VI_TMO_INFINITE
                                                        : timeoutMs + kAsyncGraceMs;
}

// A message read whole from one channel (control messages only).
struct Message {
    hs::Header header;
    std::vector<std::uint8_t> payload;
};

// Reads one complete control message: header and (bounded) payload. A
// prologue out of step or an oversized payload leaves the channel unusable.
ViStatus ReadWholeMessage(TcpConnection& connection, Deadline deadline, Message& message) {
    std::array<std::uint8_t, hs::kHeaderSize> bytes{};
    if (const ViStatus s = connection.ReceiveExact(bytes.data(), bytes.size(), deadline);
        s != VI_SUCCESS)
        return s;
    const hs::DecodeResult r = hs::DecodeHeader(bytes, kMaxControlPayload, message.header);
    // An unknown type is read and passed over by the caller, but its length
    // is held to the same bound as any other.
    if (r == hs::DecodeResult::BadPrologue || r == hs::DecodeResult::TooLarge ||
        message.header.payloadLength > kMaxControlPayload)
        return VI_ERROR_IO;
    message.payload.resize(static_cast<std::size_t>(message.header.payloadLength));
    return connection.ReceiveExact(message.payload.data(), message.payload.size(), deadline);
}

class HislipTransport final : public ITransport {
public:
    HislipTransport(std::unique_ptr<TcpConnection> sync, std::unique_ptr<TcpConnection> async,
                    std::uint16_t version)
        : m_sync(std::move(sync)), m_async(std::move(async)), m_version(version) {}

    std::uint16_t Version() const { return m_version; }

    // DataEnd ends every response.
    bool SignalsEnd() const override { return true; }

    // Asks the server's maximum message size and tells it ours.
    ViStatus NegotiateMessageSize(Deadline deadline) {
        const auto ours = hs::EncodeSize(kClientMaxMessageSize);
        Message reply;
        if (const ViStatus s =
                AsyncTransaction(hs::MessageType::AsyncMaximumMessageSize, 0, 0, ours,
                                 hs::MessageType::AsyncMaximumMessageSizeResponse, deadline, reply);
            s != VI_SUCCESS)
            return s;
        std::uint64_t serverMax = 0;
        if (!hs::DecodeSize(reply.payload, serverMax))
            return Fail(VI_ERROR_IO);
        // The size counts the header too; a server admitting less than a
        // header's worth still gets one byte per message rather than none.
        m_maxPayload = serverMax > hs::kHeaderSize ? serverMax - hs::kHeaderSize : 1;
        return VI_SUCCESS;
    }

    ViStatus Write(const std::uint8_t* data, std::size_t size, bool endOfMessage,
                   const SessionSettings& settings) override {
        if (m_broken)
            return VI_ERROR_CONN_LOST;
        const Deadline deadline = DeadlineAfter(settings.timeoutMs);
        if (const ViStatus s = FinishClear(deadline, settings.progress); s != VI_SUCCESS)
            return s;
        // Whatever is left of an earlier response is stale from now on.
        m_accepting = false;
        DropHeld();
        std::size_t done = 0;
        do {
            const std::size_t chunk =
                static_cast<std::size_t>(std::min<std::uint64_t>(size - done, m_maxPayload));
            const bool last = done + chunk == size;
            if (last && !endOfMessage && chunk == 0)
                break;
            const hs::MessageType type =
                last && endOfMessage ? hs::MessageType::DataEnd : hs::MessageType::Data;
            // RMT-delivered: the previous response was read to its end.
            const auto header = hs::EncodeHeader({type, m_rmtDelivered, m_nextMessageId, chunk});
            const std::span<const std::uint8_t> parts[] = {header, {data + done, chunk}};
            std::size_t sent = 0;
            const ViStatus s = m_sync->SendAll(parts, deadline, settings.progress, sent);
            if (s == VI_ERROR_ABORT && Cancelled(settings)) {
                // The server reads the channel message by message: this one
                // goes out whole, and the device clear drops it.
                if (const ViStatus rest = SendRest(parts, sent, deadline); rest != VI_SUCCESS)
                    return rest;
                m_nextMessageId += 2;
                return Abandon(settings);
            }
            if (s != VI_SUCCESS)
                return Fail(s == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_CONN_LOST);
            m_rmtDelivered = 0;
            m_lastSentId = m_nextMessageId;
            m_sentAny = true;
            m_nextMessageId += 2;
            done += chunk;
        } while (done < size);
        return VI_SUCCESS;
    }

    // With the termination character enabled a message read ends at it, as
    // on every transport; HiSLIP has no such setting at the server, so it is
    // looked for here, and what came after it is held for the next read.
    // (Block data is read in Raw mode: the session takes a definite-length
    // block by its length first, docs/visa.md "Block framing".)
    ViStatus Read(std::uint8_t* data, std::size_t capacity, ReadMode mode,
                  const SessionSettings& settings, ReadResult& result) override {
        result = {};
        if (m_broken)
            return VI_ERROR_CONN_LOST;
        if (capacity == 0)
            return VI_SUCCESS;
        const bool findTermChar = mode == ReadMode::Message && settings.termCharEnabled;
        if (m_heldBegin < m_held.size())
            return ReadHeld(data, capacity, findTermChar, settings.termChar, result);
        const Deadline deadline = DeadlineAfter(settings.timeoutMs);
        ProgressMeter* const progress = settings.progress;
        if (const ViStatus s = FinishClear(deadline, progress); s != VI_SUCCESS)
            return s;
        for (;;) {
            if (m_payloadLeft == 0) {
                if (m_accepting && m_inDataEnd) {
                    // An empty DataEnd: the response ends with nothing more.
                    m_accepting = false;
                    m_rmtDelivered = 1;
                    result.end = ReadEnd::End;
                    return VI_SUCCESS;
                }
                hs::Header header;
                if (const ViStatus s = NextSyncHeader(deadline, header, progress); s != VI_SUCCESS)
                    return Abandoned(s, settings);
                if (const ViStatus s = TakeSyncHeader(header, deadline); s != VI_SUCCESS)
                    return s;
                continue;
            }
            if (!m_accepting) {
                if (const ViStatus s = SkipPayload(deadline, progress); s != VI_SUCCESS)
                    return Abandoned(s, settings);
                continue;
            }
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(capacity, m_payloadLeft));
            std::size_t got = 0;
            const ViStatus s = m_sync->ReceiveSome(data, want, deadline, got, progress);
            // A cancel may come with bytes received: they still count
            // against the message, so that the stream stays in step.
            m_payloadLeft -= got;
            if (s != VI_SUCCESS)
                return s == VI_ERROR_ABORT ? Abandoned(s, settings) : Fail(s);
            result.count = got;
            const bool ended = m_payloadLeft == 0 && m_inDataEnd;
            if (ended) {
                m_accepting = false;
                m_rmtDelivered = 1;
                result.end = ReadEnd::End;
            }
            if (findTermChar)
                HoldAfterTermChar(data, settings.termChar, ended, result);
            return VI_SUCCESS;
        }
    }

    std::size_t Buffered() const override { return m_held.size() - m_heldBegin; }

    // Device clear: AsyncDeviceClear, then DeviceClearComplete on the
    // synchronous channel asking for synchronized mode, and everything the
    // server sent before its DeviceClearAcknowledge dropped. A clear that
    // does not complete in time ends the session.
    ViStatus Clear(const SessionSettings& settings) override {
        if (m_broken)
            return VI_ERROR_CONN_LOST;
        const Deadline deadline = DeadlineAfter(WithGrace(settings.timeoutMs));
        ViStatus s = FinishClear(deadline, nullptr);
        if (s == VI_SUCCESS)
            s = StartClear(deadline);
        if (s == VI_SUCCESS)
            s = FinishClear(deadline, nullptr);
        return s == VI_ERROR_TMO ? Fail(s) : s;
    }

    ViStatus ReadStatusByte(const SessionSettings& settings, ViUInt16& status) override {
        if (m_broken)
            return VI_ERROR_CONN_LOST;
        Message reply;
        const ViStatus s = AsyncTransaction(hs::MessageType::AsyncStatusQuery, m_rmtDelivered,
                                            m_lastSentId, {}, hs::MessageType::AsyncStatusResponse,
                                            DeadlineAfter(WithGrace(settings.timeoutMs)), reply);
        if (s != VI_SUCCESS)
            return s;
        m_rmtDelivered = 0;
        status = reply.header.controlCode;
        return VI_SUCCESS;
    }

    // An exclusive lock at the instrument; the server waits for it at most
    // timeoutMs, and we that long plus a grace.
    ViStatus Lock(const SessionSettings& /*settings*/, ViUInt32 timeoutMs) override {
        if (m_broken)
            return VI_ERROR_CONN_LOST;
        Message reply;
        if (const ViStatus s = AsyncTransaction(hs::MessageType::AsyncLock, hs::kLockRequest,
                                                timeoutMs, {}, hs::MessageType::AsyncLockResponse,
                                                DeadlineAfter(WithGrace(timeoutMs)), reply);
            s != VI_SUCCESS)
            return s;
        switch (reply.header.controlCode) {
        case hs::kLockSuccess:
        case hs::kLockSuccessShared:
            return VI_SUCCESS;
        case hs::kLockFailure:
            return VI_ERROR_RSRC_LOCKED; // another client held it past the timeout
        default:
            return VI_ERROR_IO;
        }
    }

    ViStatus Unlock(const SessionSettings& settings) override {
        if (m_broken)
            return VI_ERROR_CONN_LOST;
        Message reply;
        if (const ViStatus s =
                AsyncTransaction(hs::MessageType::AsyncLock, hs::kLockRelease, m_lastSentId, {},
                                 hs::MessageType::AsyncLockResponse,
                                 DeadlineAfter(WithGrace(settings.timeoutMs)), reply);
            s != VI_SUCCESS)
            return s;
        return reply.header.controlCode == hs::kLockSuccess ||
                       reply.header.controlCode == hs::kLockSuccessShared
                   ? VI_SUCCESS
                   : VI_ERROR_SESN_NLOCKED;
    }

    // Sends a request on the asynchronous channel and waits for its answer,
    // passing over service requests and interruption notices on the way.
    ViStatus AsyncTransaction(hs::MessageType type, std::uint8_t controlCode,
                              std::uint32_t parameter, std::span<const std::uint8_t> payload,
                              hs::MessageType answer, Deadline deadline, Message& reply) {
        const auto header = hs::EncodeHeader({type, controlCode, parameter, payload.size()});
        const std::span<const std::uint8_t> parts[] = {header, payload};
        if (const ViStatus s = m_async->SendAll(parts, deadline); s != VI_SUCCESS)
            return Fail(s);
        for (;;) {
            // A late answer would be taken for the next one: a timeout here
            // ends the session.
            if (const ViStatus s = ReadWholeMessage(*m_async, deadline, reply); s != VI_SUCCESS)
                return Fail(s);
            if (reply.header.type == answer)
                return VI_SUCCESS;
            if (reply.header.type == hs::MessageType::FatalError)
                return Fatal();
            if (reply.header.type == hs::MessageType::Error)
                return VI_ERROR_IO;
            // AsyncServiceRequest, AsyncInterrupted and anything unknown: passed over.
        }
    }

private:
    static bool Cancelled(const SessionSettings& settings) {
        return settings.progress != nullptr && settings.progress->Cancelled();
    }

    // The first half of a device clear: the instrument is told on the
    // asynchronous channel and acknowledges there, and DeviceClearComplete
    // goes on the synchronous one; FinishClear reads up to its answer.
    ViStatus StartClear(Deadline deadline) {
        Message ack;
        if (const ViStatus s =
                AsyncTransaction(hs::MessageType::AsyncDeviceClear, 0, 0, {},
                                 hs::MessageType::AsyncDeviceClearAcknowledge, deadline, ack);
            s != VI_SUCCESS)
            return s;
        const auto complete = hs::EncodeMessage(hs::MessageType::DeviceClearComplete, 0, 0);
        if (const ViStatus s = m_sync->SendAll(complete.data(), complete.size(), deadline);
            s != VI_SUCCESS)
            return Fail(s);
        m_accepting = false;
        DropHeld();
        m_clearPending = true;
        return VI_SUCCESS;
    }

    // Drops what the server sent before DeviceClearAcknowledge, when a clear
    // is under way. A timeout or a cancel leaves it under way, where the
    // stream is, for the next call.
    ViStatus FinishClear(Deadline deadline, ProgressMeter* progress) {
        while (m_clearPending) {
            if (m_payloadLeft > 0) {
                if (const ViStatus s = SkipPayload(deadline, progress); s != VI_SUCCESS)
                    return s;
                continue;
            }
            hs::Header header;
            if (const ViStatus s = NextSyncHeader(deadline, header, progress); s != VI_SUCCESS)
                return s;
            if (header.type == hs::MessageType::DeviceClearAcknowledge) {
                m_clearPending = false;
                m_nextMessageId = hs::kFirstMessageId;
                m_sentAny = false;
                m_rmtDelivered = 0;
                m_inDataEnd = false;
                break;
            }
            if (header.type == hs::MessageType::FatalError)
                return TakeSyncHeader(header, deadline);
            m_payloadLeft = header.payloadLength; // dropped
        }
        return VI_SUCCESS;
    }

    // A wait or read that the progress handler cancelled: the response is
    // abandoned by a device clear. Other failures pass through.
    ViStatus Abandoned(ViStatus s, const SessionSettings& settings) {
        return s == VI_ERROR_ABORT && Cancelled(settings) ? Abandon(settings) : s;
    }

    ViStatus Abandon(const SessionSettings& settings) {
        if (!m_clearPending) {
            if (const ViStatus s = StartClear(DeadlineAfter(WithGrace(settings.timeoutMs)));
                s != VI_SUCCESS)
                return s;
        }
        // Usually the acknowledgement follows at once; a large response
        // already under way at the instrument's pace is read at the next call.
        const ViStatus s =
            FinishClear(std::chrono::steady_clock::now() + kCancelDrainTime, nullptr);
        return s == VI_SUCCESS || s == VI_ERROR_TMO ? VI_ERROR_ABORT : s;
    }

    // Sends what SendAll left of a message after a cancel.
    ViStatus SendRest(std::span<const std::span<const std::uint8_t>> parts, std::size_t sent,
                      Deadline deadline) {
        for (std::span<const std::uint8_t> part : parts) {
            const std::size_t skip = std::min(sent, part.size());
            sent -= skip;
            if (const ViStatus s =
                    m_sync->SendAll(part.data() + skip, part.size() - skip, deadline);
                s != VI_SUCCESS)
                return Fail(s == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_CONN_LOST);
        }
        return VI_SUCCESS;
    }

    // Reads the next header of the synchronous channel, keeping a partly
    // received header across a timeout. The header is framing: with a
    // progress meter it is waited for with reports but not counted.
    ViStatus NextSyncHeader(Deadline deadline, hs::Header& header, ProgressMeter* progress) {
        while (m_headerHave < hs::kHeaderSize) {
            ViStatus s = m_sync->WaitReadable(deadline, progress);
            std::size_t got = 0;
            if (s == VI_SUCCESS)
                s = m_sync->ReceiveSome(m_headerBytes.data() + m_headerHave,
                                        hs::kHeaderSize - m_headerHave, deadline, got);
            if (s != VI_SUCCESS)
                return s == VI_ERROR_TMO || s == VI_ERROR_ABORT ? s : Fail(s);
            m_headerHave += got;
        }
        m_headerHave = 0;
        switch (hs::DecodeHeader(m_headerBytes, kClientMaxMessageSize, header)) {
        case hs::DecodeResult::Ok:
            return VI_SUCCESS;
        case hs::DecodeResult::BadPrologue:
            return SendFatal(hs::FatalCode::PoorlyFormedHeader);
        case hs::DecodeResult::UnknownType:
            SendError(hs::ErrorCode::UnrecognizedMessageType);
            header.type = hs::MessageType::Trigger; // dropped with its payload below
            return VI_SUCCESS;
        case hs::DecodeResult::TooLarge:
            return SendFatal(hs::FatalCode::Unidentified);
        }
        return VI_ERROR_IO;
    }

    // Acts on a header read from the synchronous channel.
    ViStatus TakeSyncHeader(const hs::Header& header, Deadline deadline) {
        switch (header.type) {
        case hs::MessageType::Data:
        case hs::MessageType::DataEnd:
            // The answer to our latest message, or one that answers none in
            // particular; any other is the late reply of an abandoned query.
            m_accepting = m_sentAny && (header.parameter == m_lastSentId ||
                                        header.parameter == hs::kAnyMessageId);
            m_inDataEnd = header.type == hs::MessageType::DataEnd;
            m_payloadLeft = header.payloadLength;
            return VI_SUCCESS;
        case hs::MessageType::Error: {
            Message m;
            if (const ViStatus s = ReadPayload(header, deadline, m); s != VI_SUCCESS)
                return s;
            // The server refused our message; the session goes on.
            return VI_ERROR_IO;
        }
        case hs::MessageType::FatalError: {
            Message m;
            ReadPayload(header, deadline, m);
            return Fatal();
        }
        default:
            // Interrupted (an abandoned response ends), and anything else that
            // has no business here: dropped with its payload.
            m_accepting = false;
            m_payloadLeft = header.payloadLength;
            return VI_SUCCESS;
        }
    }

    ViStatus ReadPayload(const hs::Header& header, Deadline deadline, Message& m) {
        if (header.payloadLength > kMaxControlPayload)
            return SendFatal(hs::FatalCode::Unidentified);
        m.header = header;
        m.payload.resize(static_cast<std::size_t>(header.payloadLength));
        const ViStatus s = m_sync->ReceiveExact(m.payload.data(), m.payload.size(), deadline);
        return s == VI_SUCCESS ? s : Fail(s);
    }

    // Reads and drops the payload of a stale message (not counted, but
    // waited for with reports).
    ViStatus SkipPayload(Deadline deadline, ProgressMeter* progress) {
        std::uint8_t scratch[16 * 1024];
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof scratch, m_payloadLeft));
        ViStatus s = m_sync->WaitReadable(deadline, progress);
        std::size_t got = 0;
        if (s == VI_SUCCESS)
            s = m_sync->ReceiveSome(scratch, want, deadline, got);
        if (s != VI_SUCCESS)
            return s == VI_ERROR_TMO || s == VI_ERROR_ABORT ? s : Fail(s);
        m_payloadLeft -= got;
        return VI_SUCCESS;
    }

    void SendError(hs::ErrorCode code) {
        const auto m =
            hs::EncodeMessage(hs::MessageType::Error, static_cast<std::uint8_t>(code), 0);
        if (m_sync->SendAll(m.data(), m.size(), DeadlineAfter(200)) != VI_SUCCESS)
            m_broken = true;
    }

    // A server that breaks the protocol is told so, and the session ends.
    ViStatus SendFatal(hs::FatalCode code) {
        const auto m =
            hs::EncodeMessage(hs::MessageType::FatalError, static_cast<std::uint8_t>(code), 0);
        m_sync->SendAll(m.data(), m.size(), DeadlineAfter(200));
        Fail(VI_ERROR_IO);
        return VI_ERROR_IO;
    }

    // The server ended the session: both channels are closed at once.
    ViStatus Fatal() {
        m_sync.reset();
        m_async.reset();
        m_broken = true;
        return VI_ERROR_CONN_LOST;
    }

    // A read that received bytes past an enabled termination character
    // ends after it; the rest waits in m_held. END and the character on the
    // same byte make END.
    void HoldAfterTermChar(const std::uint8_t* data, std::uint8_t termChar, bool ended,
                           ReadResult& result) {
        const void* at = std::memchr(data, termChar, result.count);
        if (at == nullptr)
            return;
        const std::size_t upTo =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - data) + 1;
        if (upTo < result.count) {
            m_held.assign(data + upTo, data + result.count);
            m_heldBegin = 0;
            m_heldEndsResponse = ended;
            result.count = upTo;
            result.end = ReadEnd::TermChar;
        } else if (result.end != ReadEnd::End) {
            result.end = ReadEnd::TermChar;
        }
    }

    ViStatus ReadHeld(std::uint8_t* data, std::size_t capacity, bool findTermChar,
                      std::uint8_t termChar, ReadResult& result) {
        std::size_t n = std::min(capacity, m_held.size() - m_heldBegin);
        const std::uint8_t* from = m_held.data() + m_heldBegin;
        if (findTermChar)
            if (const void* at = std::memchr(from, termChar, n)) {
                n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - from) + 1;
                result.end = ReadEnd::TermChar;
            }
        std::memcpy(data, from, n);
        m_heldBegin += n;
        result.count = n;
        if (m_heldBegin == m_held.size()) {
            if (m_heldEndsResponse)
                result.end = ReadEnd::End;
            DropHeld();
        }
        return VI_SUCCESS;
    }

    void DropHeld() {
        m_held.clear();
        m_heldBegin = 0;
        m_heldEndsResponse = false;
    }

    // The stream is out of step (or gone): every later call fails at once.
    ViStatus Fail(ViStatus s) {
        m_broken = true;
        return s;
    }

    std::unique_ptr<TcpConnection> m_sync;
    std::unique_ptr<TcpConnection> m_async;
    std::uint16_t m_version;
    std::uint64_t m_maxPayload = 1 << 20;
    std::uint32_t m_nextMessageId = hs::kFirstMessageId;
    std::uint32_t m_lastSentId = hs::kFirstMessageId - 2;
    bool m_sentAny = false;
    std::uint8_t m_rmtDelivered = 0;
    // The Data/DataEnd message under way: bytes still to come, whether it
    // answers our latest message, whether it ends the response.
    std::uint64_t m_payloadLeft = 0;
    bool m_accepting = false;
    bool m_inDataEnd = false;
    std::array<std::uint8_t, hs::kHeaderSize> m_headerBytes{};
    std::size_t m_headerHave = 0;
    // What a read received after an enabled termination character, for the
    // next reads; whether the response ended with its last byte.
    std::vector<std::uint8_t> m_held;
    std::size_t m_heldBegin = 0;
    bool m_heldEndsResponse = false;
    // DeviceClearComplete sent, its DeviceClearAcknowledge not read yet.
    bool m_clearPending = false;
    bool m_broken = false;
};

// Sends one message and reads the answer, during the opening handshake.
ViStatus Handshake(TcpConnection& connection, const std::vector<std::uint8_t>& request,
                   hs::MessageType answer, Deadline deadline, Message& reply) {
    if (connection.SendAll(request.data(), request.size(), deadline) != VI_SUCCESS ||
        ReadWholeMessage(connection, deadline, reply) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    if (reply.header.type == hs::MessageType::FatalError &&
        reply.header.controlCode ==
            static_cast<std::uint8_t>(hs::FatalCode::MaximumClientsExceeded))
        return VI_ERROR_RSRC_LOCKED;
    return reply.header.type == answer ? VI_SUCCESS : VI_ERROR_RSRC_NFOUND;
}

} // namespace

std::unique_ptr<ITransport> MakeHislipTransport(std::unique_ptr<TcpConnection> sync,
                                                std::unique_ptr<TcpConnection> async,
                                                std::uint16_t version) {
    return std::make_unique<HislipTransport>(std::move(sync), std::move(async), version);
}

ViStatus OpenHislipTransport(const ResourceName& name, const SessionSettings& settings,
                             std::unique_ptr<ITransport>& transport) {
    // Both connections and the whole handshake within the timeout.
    const Deadline deadline = DeadlineAfter(settings.timeoutMs);
    std::unique_ptr<TcpConnection> sync;
    if (TcpConnection::Connect(name.host, name.port, deadline, sync) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    const std::span<const std::uint8_t> subAddress(
        reinterpret_cast<const std::uint8_t*>(name.device.data()), name.device.size());
    Message init;
    if (const ViStatus s =
            Handshake(*sync,
                      hs::EncodeMessage(hs::MessageType::Initialize, 0,
                                        hs::JoinHalves(hs::kOwnVersion, kVendorId), subAddress),
                      hs::MessageType::InitializeResponse, deadline, init);
        s != VI_SUCCESS)
        return s;
    const std::uint16_t version =
        hs::NegotiatedVersion(hs::kOwnVersion, hs::HighHalf(init.header.parameter));
    if (version < hs::kOldestVersion)
        return VI_ERROR_RSRC_NFOUND;
    const std::uint16_t sessionId = hs::LowHalf(init.header.parameter);
    const bool prefersOverlap = (init.header.controlCode & hs::kFeatureOverlapped) != 0;

    std::unique_ptr<TcpConnection> async;
    if (TcpConnection::Connect(name.host, name.port, deadline, async) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    Message asyncInit;
    if (const ViStatus s =
            Handshake(*async, hs::EncodeMessage(hs::MessageType::AsyncInitialize, 0, sessionId),
                      hs::MessageType::AsyncInitializeResponse, deadline, asyncInit);
        s != VI_SUCCESS)
        return s;

    auto hislip = std::make_unique<HislipTransport>(std::move(sync), std::move(async), version);
    if (hislip->NegotiateMessageSize(deadline) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    // A server starting in overlapped mode is brought to synchronized mode,
    // the one this client speaks, by the device clear's feature negotiation.
    if (prefersOverlap && hislip->Clear(settings) != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    transport = std::move(hislip);
    return VI_SUCCESS;
}

} // namespace quarvel::visa
