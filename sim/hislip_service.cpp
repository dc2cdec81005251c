#include "sim/hislip_service.h"

#include <algorithm>
#include <cctype>

namespace quarvel::sim {

namespace hs = visa::hislip;
using hs::MessageType;

namespace {

HislipBytes Message(MessageType type, std::uint8_t controlCode, std::uint32_t parameter,
                    HislipView payload = {}) {
    return hs::EncodeMessage(type, controlCode, parameter, payload);
}

HislipOutcome Fatal(hs::FatalCode code, std::string_view text) {
    HislipOutcome out;
    out.immediate =
        Message(MessageType::FatalError, static_cast<std::uint8_t>(code), 0,
                HislipView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    out.close = true;
    return out;
}

HislipOutcome Error(hs::ErrorCode code, std::string_view text) {
    HislipOutcome out;
    out.immediate =
        Message(MessageType::Error, static_cast<std::uint8_t>(code), 0,
                HislipView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return out;
}

// "hislip0", "HiSLIP12": the sub-addresses the simulated instrument answers.
bool IsHislipSubAddress(HislipView payload) {
    constexpr std::string_view kPrefix = "hislip";
    if (payload.size() <= kPrefix.size() || payload.size() > 32)
        return false;
    for (std::size_t i = 0; i < kPrefix.size(); ++i)
        if (std::tolower(payload[i]) != kPrefix[i])
            return false;
    return std::all_of(payload.begin() + kPrefix.size(), payload.end(),
                       [](std::uint8_t c) { return c >= '0' && c <= '9'; });
}

} // namespace

HislipService::HislipService(SimInstrument& instrument, Transcript* transcript,
                             const FaultOptions& faults)
    : m_instrument(instrument), m_transcript(transcript), m_faults(faults) {}

HislipOutcome HislipService::Initialize(const hs::Header& header, HislipView payload,
                                        std::shared_ptr<HislipSessionState>& session,
                                        bool& isSync) {
    if (header.type == MessageType::Initialize) {
        isSync = true;
        const std::uint16_t clientVersion = hs::HighHalf(header.parameter);
        if (clientVersion < hs::kOldestVersion)
            return Fatal(hs::FatalCode::InvalidInitialization, "unsupported protocol version");
        if (!IsHislipSubAddress(payload))
            return Fatal(hs::FatalCode::InvalidInitialization, "unknown sub-address");
        std::lock_guard lock(m_mutex);
        if (m_sessions.size() >= kMaxSessions)
            return Fatal(hs::FatalCode::MaximumClientsExceeded, "too many clients");
        std::uint16_t id = m_nextSessionId;
        while (id == 0 || m_sessions.count(id))
            ++id;
        m_nextSessionId = static_cast<std::uint16_t>(id + 1);
        session =
            std::make_shared<HislipSessionState>(id, Session(m_instrument, m_transcript, m_faults));
        m_sessions[id] = session;
        HislipOutcome out;
        const std::uint16_t version = hs::NegotiatedVersion(clientVersion, hs::kOwnVersion);
        out.immediate = Message(MessageType::InitializeResponse, 0, hs::JoinHalves(version, id));
        return out;
    }
    if (header.type == MessageType::AsyncInitialize) {
        isSync = false;
        std::lock_guard lock(m_mutex);
        const auto it = m_sessions.find(hs::LowHalf(header.parameter));
        if (it == m_sessions.end() || hs::HighHalf(header.parameter) != 0)
            return Fatal(hs::FatalCode::InvalidInitialization, "no such session");
        session = it->second;
        HislipOutcome out;
        out.immediate = Message(MessageType::AsyncInitializeResponse, 0, kVendorId);
        return out;
    }
    return Fatal(hs::FatalCode::InvalidInitialization, "Initialize expected");
}

HislipOutcome HislipService::HandleSync(HislipSessionState& session, const hs::Header& header,
                                        HislipView payload) {
    HislipOutcome out;
    switch (header.type) {
    case MessageType::Data:
    case MessageType::DataEnd: {
        if (session.clearing)
            return out; // dropped until the device clear completes
        session.lastMessageId = header.parameter;
        const std::string_view bytes(reinterpret_cast<const char*>(payload.data()), payload.size());
        for (OutgoingReply& reply :
             session.session.Feed(bytes, header.type == MessageType::DataEnd))
            out.responses.push_back({std::move(reply), header.parameter});
        return out;
    }
    case MessageType::Trigger:
        session.lastMessageId = header.parameter;
        return out;
    case MessageType::DeviceClearComplete:
        session.session.Clear();
        session.clearing = false;
        // Synchronized mode whatever the client asked for: that is all this
        // server offers.
        out.immediate = Message(MessageType::DeviceClearAcknowledge, 0, 0);
        return out;
    case MessageType::Error:
        return out;
    case MessageType::FatalError:
        out.close = true;
        return out;
    default:
        return Error(hs::ErrorCode::UnrecognizedMessageType, "not a synchronous channel message");
    }
}

HislipOutcome HislipService::HandleAsync(HislipSessionState& session, const hs::Header& header,
                                         HislipView payload) {
    HislipOutcome out;
    switch (header.type) {
    case MessageType::AsyncMaximumMessageSize: {
        std::uint64_t size = 0;
        if (!hs::DecodeSize(payload, size))
            return Error(hs::ErrorCode::Unidentified, "size must be 8 bytes");
        session.clientMaxMessage = size;
        out.immediate = Message(MessageType::AsyncMaximumMessageSizeResponse, 0, 0,
                                hs::EncodeSize(kServerMaxMessage));
        return out;
    }
    case MessageType::AsyncDeviceClear:
        session.clearing = true;
        out.immediate = Message(MessageType::AsyncDeviceClearAcknowledge, 0, 0);
        return out;
    case MessageType::AsyncStatusQuery: {
        // Responses leave as soon as they are made: none waits for a read.
        out.immediate = Message(MessageType::AsyncStatusResponse,
                                m_instrument.StatusByte(/*messageAvailable=*/false), 0);
        return out;
    }
    case MessageType::AsyncLock:
        return Lock(session, header, payload);
    case MessageType::AsyncLockInfo: {
        std::lock_guard lock(m_mutex);
        const auto holders =
            static_cast<std::uint32_t>(m_sharedHolders.size() + (m_exclusiveHolder ? 1 : 0));
        out.immediate =
            Message(MessageType::AsyncLockInfoResponse, m_exclusiveHolder ? 1 : 0, holders);
        return out;
    }
    case MessageType::AsyncRemoteLocalControl:
        out.immediate = Message(MessageType::AsyncRemoteLocalResponse, 0, 0);
        return out;
    case MessageType::Error:
        return out;
    case MessageType::FatalError:
        out.close = true;
        return out;
    default:
        return Error(hs::ErrorCode::UnrecognizedMessageType, "not an asynchronous channel message");
    }
}

HislipOutcome HislipService::Lock(HislipSessionState& session, const hs::Header& header,
                                  HislipView payload) {
    HislipOutcome out;
    std::lock_guard lock(m_mutex);
    std::uint8_t result = hs::kLockError;
    if (header.controlCode == hs::kLockRequest) {
        // One held by another session fails here; the server asks again
        // until the request's timeout.
        const std::string key(reinterpret_cast<const char*>(payload.data()), payload.size());
        if (key.empty()) {
            const bool othersShare =
                std::any_of(m_sharedHolders.begin(), m_sharedHolders.end(),
                            [&](const auto& holder) { return holder.first != session.id; });
            if ((m_exclusiveHolder == 0 || m_exclusiveHolder == session.id) && !othersShare) {
                m_exclusiveHolder = session.id;
                result = hs::kLockSuccess;
            } else {
                result = hs::kLockFailure;
            }
        } else {
            const bool otherKey =
                std::any_of(m_sharedHolders.begin(), m_sharedHolders.end(),
                            [&](const auto& holder) { return holder.second != key; });
            if ((m_exclusiveHolder == 0 || m_exclusiveHolder == session.id) && !otherKey) {
                m_sharedHolders[session.id] = key;
                result = hs::kLockSuccessShared;
            } else {
                result = hs::kLockFailure;
            }
        }
    } else if (header.controlCode == hs::kLockRelease) {
        if (m_exclusiveHolder == session.id) {
            m_exclusiveHolder = 0;
            result = hs::kLockSuccess;
        } else if (m_sharedHolders.erase(session.id) > 0) {
            result = hs::kLockSuccessShared;
        }
    } else {
        return Error(hs::ErrorCode::UnrecognizedControlCode, "lock control code");
    }
    out.immediate = Message(MessageType::AsyncLockResponse, result, 0);
    return out;
}

void HislipService::EndSession(std::uint16_t sessionId) {
    std::lock_guard lock(m_mutex);
    m_sessions.erase(sessionId);
    if (m_exclusiveHolder == sessionId)
        m_exclusiveHolder = 0;
    m_sharedHolders.erase(sessionId);
}

std::vector<HislipService::Piece> HislipService::FrameResponse(std::string_view bytes,
                                                               std::uint32_t messageId,
                                                               std::uint64_t clientMaxMessage,
                                                               std::size_t fragment) {
    std::uint64_t most =
        clientMaxMessage > hs::kHeaderSize ? clientMaxMessage - hs::kHeaderSize : 1;
    if (fragment > 0)
        most = std::min<std::uint64_t>(most, fragment);
    std::vector<Piece> pieces;
    std::size_t done = 0;
    do {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(most, bytes.size() - done));
        const bool last = done + n == bytes.size();
        pieces.push_back(
            {hs::EncodeHeader({last ? MessageType::DataEnd : MessageType::Data, 0, messageId, n}),
             bytes.substr(done, n)});
        done += n;
    } while (done < bytes.size());
    return pieces;
}

} // namespace quarvel::sim
