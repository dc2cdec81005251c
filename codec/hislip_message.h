#pragma once

// HiSLIP (IVI-6.1) messages as the client transport and the simulator's
// server both speak them. Every message starts with the same 16-byte header:
//
//   'H' 'S' | type (1) | control code (1) | parameter (4, big-endian)
//           | payload length (8, big-endian)
//
// followed by the payload. The header is decoded here and nowhere else,
// strictly: a wrong prologue, a type this side does not know or a payload
// longer than the receiver admits is an error, never a guess.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quarvel::visa::hislip {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::uint16_t kDefaultPort = 4880;

enum class MessageType : std::uint8_t {
    Initialize = 0,
    InitializeResponse = 1,
    FatalError = 2,
    Error = 3,
    AsyncLock = 4,
    AsyncLockResponse = 5,
    Data = 6,
    DataEnd = 7,
    DeviceClearComplete = 8,
    DeviceClearAcknowledge = 9,
    AsyncRemoteLocalControl = 10,
    AsyncRemoteLocalResponse = 11,
    Trigger = 12,
    Interrupted = 13,
    AsyncInterrupted = 14,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
    AsyncDeviceClear = 19,
    AsyncServiceRequest = 20,
    AsyncStatusQuery = 21,
    AsyncStatusResponse = 22,
    AsyncDeviceClearAcknowledge = 23,
    AsyncLockInfo = 24,
    AsyncLockInfoResponse = 25,
    GetDescriptors = 26,
    GetDescriptorsResponse = 27,
};
// The last type of version 2.0 that this implementation knows (the TLS and
// authentication messages after it are not offered, so never expected).
inline constexpr std::uint8_t kLastKnownType = 27;

// Protocol versions as they travel: major in the high byte, minor in the low.
inline constexpr std::uint16_t kVersion10 = 0x0100;
inline constexpr std::uint16_t kVersion20 = 0x0200;
// What this implementation speaks: everything from 1.0 to 2.0.
inline constexpr std::uint16_t kOwnVersion = kVersion20;
inline constexpr std::uint16_t kOldestVersion = kVersion10;

// The first MessageID a client uses after Initialize and after a device clear;
// each Data, DataEnd or Trigger it sends takes the next one (+2).
inline constexpr std::uint32_t kFirstMessageId = 0xFFFFFF00u;
// A server response that answers no particular message.
inline constexpr std::uint32_t kAnyMessageId = 0xFFFFFFFFu;

// Error (non-fatal) codes.
enum class ErrorCode : std::uint8_t {
    Unidentified = 0,
    UnrecognizedMessageType = 1,
    UnrecognizedControlCode = 2,
    UnrecognizedVendorMessage = 3,
    MessageTooLarge = 4,
};
// FatalError codes.
enum class FatalCode : std::uint8_t {
    Unidentified = 0,
    PoorlyFormedHeader = 1,
    ChannelsNotEstablished = 2,
    InvalidInitialization = 3,
    MaximumClientsExceeded = 4,
};

// Control code bits of the feature negotiation (device clear, InitializeResponse).
inline constexpr std::uint8_t kFeatureOverlapped = 0x01;
// AsyncLock control codes and AsyncLockResponse results.
inline constexpr std::uint8_t kLockRelease = 0;
inline constexpr std::uint8_t kLockRequest = 1;
inline constexpr std::uint8_t kLockFailure = 0;
inline constexpr std::uint8_t kLockSuccess = 1;
inline constexpr std::uint8_t kLockSuccessShared = 2;
inline constexpr std::uint8_t kLockError = 3;

struct Header {
    MessageType type = MessageType::Data;
    std::uint8_t controlCode = 0;
    std::uint32_t parameter = 0;
    std::uint64_t payloadLength = 0;
};

enum class DecodeResult {
    Ok,
    BadPrologue, // not "HS": the stream is out of step (fatal)
    UnknownType, // a type this side does not know (the payload can be skipped)
    TooLarge,    // payloadLength above the receiver's limit
};

// Decodes the 16 header bytes. header is filled for UnknownType and TooLarge
// too (the receiver may skip the payload or report the size).
DecodeResult DecodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes,
                          std::uint64_t maxPayload, Header& header);

std::array<std::uint8_t, kHeaderSize> EncodeHeader(const Header& header);

// A whole message (header and payload) in one buffer, for the small ones.
std::vector<std::uint8_t> EncodeMessage(MessageType type, std::uint8_t controlCode,
                                        std::uint32_t parameter,
                                        std::span<const std::uint8_t> payload = {});

// The 8-byte big-endian payload of AsyncMaximumMessageSize(Response).
std::array<std::uint8_t, 8> EncodeSize(std::uint64_t size);
// False unless payload is exactly 8 bytes.
bool DecodeSize(std::span<const std::uint8_t> payload, std::uint64_t& size);

// Initialize's parameter: client version (high 16 bits) and vendor id (low);
// InitializeResponse's: server version and session id.
inline std::uint32_t JoinHalves(std::uint16_t high, std::uint16_t low) {
    return (static_cast<std::uint32_t>(high) << 16) | low;
}
inline std::uint16_t HighHalf(std::uint32_t v) {
    return static_cast<std::uint16_t>(v >> 16);
}
inline std::uint16_t LowHalf(std::uint32_t v) {
    return static_cast<std::uint16_t>(v & 0xFFFFu);
}

// The version both sides use: the lower of the two.
inline std::uint16_t NegotiatedVersion(std::uint16_t a, std::uint16_t b) {
    return a < b ? a : b;
}

// The name of a type for messages and logs ("DataEnd"), "unknown" otherwise.
std::string_view TypeName(MessageType type);

} // namespace quarvel::visa::hislip
