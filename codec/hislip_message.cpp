#include "codec/hislip_message.h"

#include <algorithm>

namespace quarvel::visa::hislip {

namespace {

constexpr std::string_view kTypeNames[] = {
    "Initialize",
    "InitializeResponse",
    "FatalError",
    "Error",
    "AsyncLock",
    "AsyncLockResponse",
    "Data",
    "DataEnd",
    "DeviceClearComplete",
    "DeviceClearAcknowledge",
    "AsyncRemoteLocalControl",
    "AsyncRemoteLocalResponse",
    "Trigger",
    "Interrupted",
    "AsyncInterrupted",
    "AsyncMaximumMessageSize",
    "AsyncMaximumMessageSizeResponse",
    "AsyncInitialize",
    "AsyncInitializeResponse",
    "AsyncDeviceClear",
    "AsyncServiceRequest",
    "AsyncStatusQuery",
    "AsyncStatusResponse",
    "AsyncDeviceClearAcknowledge",
    "AsyncLockInfo",
    "AsyncLockInfoResponse",
    "GetDescriptors",
    "GetDescriptorsResponse",
};
static_assert(std::size(kTypeNames) == kLastKnownType + 1);

std::uint64_t GetBigEndian(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

void PutBigEndian(std::uint8_t* p, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(v & 0xFFu);
        v >>= 8;
    }
}

} // namespace

DecodeResult DecodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes,
                          std::uint64_t maxPayload, Header& header) {
    if (bytes[0] != 'H' || bytes[1] != 'S')
        return DecodeResult::BadPrologue;
    header.type = static_cast<MessageType>(bytes[2]);
    header.controlCode = bytes[3];
    header.parameter = static_cast<std::uint32_t>(GetBigEndian(bytes.data() + 4, 4));
    header.payloadLength = GetBigEndian(bytes.data() + 8, 8);
    if (bytes[2] > kLastKnownType)
        return DecodeResult::UnknownType;
    if (header.payloadLength > maxPayload)
        return DecodeResult::TooLarge;
    return DecodeResult::Ok;
}

std::array<std::uint8_t, kHeaderSize> EncodeHeader(const Header& header) {
    std::array<std::uint8_t, kHeaderSize> out{};
    out[0] = 'H';
    out[1] = 'S';
    out[2] = static_cast<std::uint8_t>(header.type);
    out[3] = header.controlCode;
    PutBigEndian(out.data() + 4, header.parameter, 4);
    PutBigEndian(out.data() + 8, header.payloadLength, 8);
    return out;
}

std::vector<std::uint8_t> EncodeMessage(MessageType type, std::uint8_t controlCode,
                                        std::uint32_t parameter,
                                        std::span<const std::uint8_t> payload) {
    const auto header = EncodeHeader({type, controlCode, parameter, payload.size()});
    std::vector<std::uint8_t> out(kHeaderSize + payload.size());
    std::copy(header.begin(), header.end(), out.begin());
    std::copy(payload.begin(), payload.end(), out.begin() + kHeaderSize);
    return out;
}

std::array<std::uint8_t, 8> EncodeSize(std::uint64_t size) {
    std::array<std::uint8_t, 8> out{};
    PutBigEndian(out.data(), size, 8);
    return out;
}

bool DecodeSize(std::span<const std::uint8_t> payload, std::uint64_t& size) {
    if (payload.size() != 8)
        return false;
    size = GetBigEndian(payload.data(), 8);
    return true;
}

std::string_view TypeName(MessageType type) {
    const auto index = static_cast<std::size_t>(type);
    return index < std::size(kTypeNames) ? kTypeNames[index] : "unknown";
}

} // namespace quarvel::visa::hislip
