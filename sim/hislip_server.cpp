#include "sim/hislip_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>

namespace quarvel::sim {

namespace hs = visa::hislip;

namespace {

enum class ReadStatus { Ok, Closed, BadPrologue, UnknownType, TooLarge };

bool Skip(int fd, std::uint64_t size, const StopSignal& stop) {
    std::uint8_t scratch[16 * 1024];
    while (size > 0) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof scratch));
        if (!ReceiveAll(fd, scratch, n, stop))
            return false;
        size -= n;
    }
    return true;
}

// One whole message; the payload of an unknown or oversized one is skipped.
ReadStatus ReadMessage(int fd, const StopSignal& stop, hs::Header& header, HislipBytes& payload) {
    std::array<std::uint8_t, hs::kHeaderSize> bytes{};
    if (!ReceiveAll(fd, bytes.data(), bytes.size(), stop))
        return ReadStatus::Closed;
    switch (hs::DecodeHeader(bytes, HislipService::kServerMaxMessage - hs::kHeaderSize, header)) {
    case hs::DecodeResult::BadPrologue:
        return ReadStatus::BadPrologue;
    case hs::DecodeResult::UnknownType:
        return Skip(fd, header.payloadLength, stop) ? ReadStatus::UnknownType : ReadStatus::Closed;
    case hs::DecodeResult::TooLarge:
        return Skip(fd, header.payloadLength, stop) ? ReadStatus::TooLarge : ReadStatus::Closed;
    case hs::DecodeResult::Ok:
        break;
    }
    payload.resize(static_cast<std::size_t>(header.payloadLength));
    return ReceiveAll(fd, payload.data(), payload.size(), stop) ? ReadStatus::Ok
                                                                : ReadStatus::Closed;
}

std::string_view AsText(const HislipBytes& bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

HislipBytes Notice(hs::MessageType type, std::uint8_t code, std::string_view text) {
    return hs::EncodeMessage(type, code, 0,
                             std::span<const std::uint8_t>(
                                 reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

enum class WaitEnd { Go, Cleared, NewMessage, Stopped };

// Waits ms milliseconds (< 0: until something happens) before a reply.
WaitEnd WaitBeforeReply(int fd, const HislipSessionState& session, int ms, const StopSignal& stop) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (session.clearing)
            return WaitEnd::Cleared;
        int slice = 20;
        if (ms >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return WaitEnd::Go;
            slice = static_cast<int>(std::min<long long>(left, slice));
        }
        pollfd p[2] = {{fd, POLLIN, 0}, {stop.Fd(), POLLIN, 0}};
        const int r = poll(p, 2, slice);
        if (r < 0 && errno != EINTR)
            return WaitEnd::Stopped;
        if (r > 0 && p[1].revents != 0)
            return WaitEnd::Stopped;
        if (r > 0 && p[0].revents != 0)
            return session.clearing ? WaitEnd::Cleared : WaitEnd::NewMessage;
    }
}

} // namespace

bool HislipServer::Start(const std::string& address, std::uint16_t port, std::string& error) {
    if (!m_listener.Listen(address, port, error))
        return false;
    m_listener.Accept([this](int fd) { Serve(fd); });
    return true;
}

void HislipServer::Serve(int fd) {
    hs::Header header;
    HislipBytes payload;
    const ReadStatus status = ReadMessage(fd, m_stop, header, payload);
    if (status != ReadStatus::Ok) {
        if (status != ReadStatus::Closed)
            SendAll(fd,
                    AsText(Notice(hs::MessageType::FatalError,
                                  static_cast<std::uint8_t>(hs::FatalCode::InvalidInitialization),
                                  "Initialize expected")),
                    0, m_stop);
        return;
    }
    std::shared_ptr<HislipSessionState> session;
    bool isSync = false;
    const HislipOutcome out = m_service.Initialize(header, payload, session, isSync);
    if (!SendAll(fd, AsText(out.immediate), 0, m_stop) || out.close || !session)
        return;
    if (isSync)
        ServeSync(fd, *session);
    else
        ServeAsync(fd, *session);
    // Either channel ending ends the session: the other one is shut down too.
    {
        std::lock_guard lock(session->channelMutex);
        int& own = isSync ? session->syncFd : session->asyncFd;
        const int other = isSync ? session->asyncFd : session->syncFd;
        own = -1;
        if (other >= 0)
            EndConnection(other);
    }
    m_service.EndSession(session->id);
}

void HislipServer::ServeSync(int fd, HislipSessionState& session) {
    {
        std::lock_guard lock(session.channelMutex);
        session.syncFd = fd;
    }
    hs::Header header;
    HislipBytes payload;
    for (;;) {
        const ReadStatus status = ReadMessage(fd, m_stop, header, payload);
        if (status == ReadStatus::Closed)
            return;
        if (status == ReadStatus::BadPrologue) {
            SendAll(fd,
                    AsText(Notice(hs::MessageType::FatalError,
                                  static_cast<std::uint8_t>(hs::FatalCode::PoorlyFormedHeader),
                                  "poorly formed message header")),
                    0, m_stop);
            return;
        }
        if (status != ReadStatus::Ok) {
            const auto code = status == ReadStatus::TooLarge
                                  ? hs::ErrorCode::MessageTooLarge
                                  : hs::ErrorCode::UnrecognizedMessageType;
            if (!SendAll(fd,
                         AsText(Notice(hs::MessageType::Error, static_cast<std::uint8_t>(code),
                                       "message refused")),
                         0, m_stop))
                return;
            continue;
        }
        const HislipOutcome out = m_service.HandleSync(session, header, payload);
        if (!out.immediate.empty() && !SendAll(fd, AsText(out.immediate), 0, m_stop))
            return;
        if (out.close)
            return;
        for (const HislipResponse& response : out.responses)
            if (!SendResponse(fd, session, response))
                return;
    }
}

bool HislipServer::SendResponse(int fd, HislipSessionState& session,
                                const HislipResponse& response) {
    const OutgoingReply& reply = response.reply;
    const bool stall = m_faults.hislipStall && reply.faultTarget;
    if (stall || reply.delayMs > 0) {
        switch (WaitBeforeReply(fd, session, stall ? -1 : reply.delayMs, m_stop)) {
        case WaitEnd::Go:
            break;
        case WaitEnd::Cleared:
            return true; // the device clear dropped it
        case WaitEnd::NewMessage: {
            // Synchronized mode: a new message abandons the reply, and the
            // client hears so on both channels.
            const auto notice =
                hs::EncodeMessage(hs::MessageType::Interrupted, 0, response.messageId);
            if (!SendAll(fd, AsText(notice), 0, m_stop))
                return false;
            std::lock_guard lock(session.channelMutex);
            if (session.asyncFd >= 0)
                SendAll(session.asyncFd,
                        AsText(hs::EncodeMessage(hs::MessageType::AsyncInterrupted, 0,
                                                 response.messageId)),
                        0, m_stop);
            return true;
        }
        case WaitEnd::Stopped:
            return false;
        }
    }
    if (reply.faultTarget && m_faults.hislipError)
        return SendAll(fd,
                       AsText(Notice(hs::MessageType::Error,
                                     static_cast<std::uint8_t>(hs::ErrorCode::Unidentified),
                                     "simulated error")),
                       0, m_stop);
    if (reply.faultTarget && m_faults.hislipFatal) {
        SendAll(fd,
                AsText(Notice(hs::MessageType::FatalError,
                              static_cast<std::uint8_t>(hs::FatalCode::Unidentified),
                              "simulated fatal error")),
                0, m_stop);
        return false;
    }
    const auto pieces = HislipService::FrameResponse(
        reply.bytes, response.messageId, session.clientMaxMessage, m_faults.hislipFragment);
    const bool drop = reply.dropAfter != std::string::npos;
    if (drop || m_faults.tinyPieces > 0) {
        // Fault paths: the framed reply in one piece of memory, cut or sent
        // in tiny TCP pieces.
        std::string framed;
        std::size_t payloadSent = 0;
        for (const auto& piece : pieces) {
            framed.append(reinterpret_cast<const char*>(piece.header.data()), piece.header.size());
            if (drop && payloadSent + piece.payload.size() >= reply.dropAfter) {
                framed.append(piece.payload.substr(0, reply.dropAfter - payloadSent));
                break;
            }
            framed.append(piece.payload);
            payloadSent += piece.payload.size();
        }
        if (!SendAll(fd, framed, m_faults.tinyPieces, m_stop))
            return false;
        return !drop;
    }
    for (const auto& piece : pieces) {
        if (session.clearing)
            return true; // the rest of an abandoned reply is not sent
        const std::string_view head(reinterpret_cast<const char*>(piece.header.data()),
                                    piece.header.size());
        // A rate limit paces the payload; the message itself cannot be cut
        // short, so a device clear takes effect after it.
        if (m_faults.rateBytesPerSecond > 0
                ? !SendAll(fd, head, 0, m_stop) ||
                      !SendAll(fd, piece.payload, Pacing(m_faults), m_stop)
                : !SendGathered(fd, head, piece.payload, m_stop))
            return false;
    }
    return true;
}

void HislipServer::ServeAsync(int fd, HislipSessionState& session) {
    {
        std::lock_guard lock(session.channelMutex);
        session.asyncFd = fd;
    }
    hs::Header header;
    HislipBytes payload;
    for (;;) {
        const ReadStatus status = ReadMessage(fd, m_stop, header, payload);
        if (status == ReadStatus::Closed)
            return;
        HislipOutcome out;
        if (status == ReadStatus::BadPrologue) {
            out.immediate = Notice(hs::MessageType::FatalError,
                                   static_cast<std::uint8_t>(hs::FatalCode::PoorlyFormedHeader),
                                   "poorly formed message header");
            out.close = true;
        } else if (status != ReadStatus::Ok) {
            out.immediate =
                Notice(hs::MessageType::Error,
                       static_cast<std::uint8_t>(hs::ErrorCode::UnrecognizedMessageType),
                       "message refused");
        } else {
            out = m_service.HandleAsync(session, header, payload);
            // A lock held by another session is waited for, up to the
            // timeout the request carries.
            const auto waitUntil = std::chrono::steady_clock::now() +
                                   std::chrono::milliseconds(std::min<std::uint32_t>(
                                       header.parameter, HislipService::kMaxLockWaitMs));
            while (header.type == hs::MessageType::AsyncLock &&
                   header.controlCode == hs::kLockRequest && out.immediate.size() > 3 &&
                   out.immediate[3] == hs::kLockFailure &&
                   std::chrono::steady_clock::now() < waitUntil && m_stop.Sleep(10))
                out = m_service.HandleAsync(session, header, payload);
        }
        {
            std::lock_guard lock(session.channelMutex);
            if (!out.immediate.empty() && !SendAll(fd, AsText(out.immediate), 0, m_stop))
                return;
        }
        if (out.close)
            return;
    }
}

} // namespace quarvel::sim
