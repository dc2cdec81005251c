// The HiSLIP message header and the simulator's HiSLIP service without
// sockets: what the header decoder refuses, shared locks (which the VISA client does
// not take) and how responses are cut into messages. The handshake, device
// clear and exclusive locks are tested through the VISA layer over real
// sockets (tests/visa/hislip_test.cpp), their message order by Wireshark's
// decoder (tests/visa/wire_decoder_test.cpp).

#include "codec/hislip_message.h"
#include "sim/family_registry.h"
#include "sim/hislip_service.h"

#include <gtest/gtest.h>

namespace quarvel::sim {
namespace {

namespace hs = visa::hislip;
using hs::MessageType;

hs::Header Decode(const HislipBytes& bytes, std::uint64_t maxPayload = 1 << 20,
                  hs::DecodeResult expected = hs::DecodeResult::Ok) {
    hs::Header header;
    EXPECT_GE(bytes.size(), hs::kHeaderSize);
    EXPECT_EQ(hs::DecodeHeader(
                  std::span<const std::uint8_t, hs::kHeaderSize>(bytes.data(), hs::kHeaderSize),
                  maxPayload, header),
              expected);
    return header;
}

HislipView Text(std::string_view text) {
    return HislipView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The layout itself Wireshark's decoder reads (tests/visa/wire_decoder_test.cpp);
// here what the decoder refuses.
TEST(HislipMessage, HeaderIsDecodedStrictly) {
    const HislipBytes m = hs::EncodeMessage(MessageType::DataEnd, 1, 0xFFFFFF02u, Text("*IDN?\n"));
    EXPECT_EQ(Decode(m).payloadLength, 6u);
    HislipBytes bad = m;
    bad[1] = 's';
    Decode(bad, 1 << 20, hs::DecodeResult::BadPrologue);
    bad = m;
    bad[2] = hs::kLastKnownType + 1;
    EXPECT_EQ(Decode(bad, 1 << 20, hs::DecodeResult::UnknownType).payloadLength, 6u);
    Decode(m, 5, hs::DecodeResult::TooLarge);
    // A length near 2^64 is refused, never trusted.
    bad = m;
    std::fill(bad.begin() + 8, bad.begin() + 16, 0xFF);
    Decode(bad, ~0ull - 1, hs::DecodeResult::TooLarge);

    std::uint64_t size = 0;
    EXPECT_FALSE(hs::DecodeSize(Text("1234567"), size));
}

class HislipServiceTest : public ::testing::Test {
protected:
    HislipOutcome Initialize(std::uint16_t version, std::string_view subAddress) {
        return m_service.Initialize(
            {MessageType::Initialize, 0, hs::JoinHalves(version, 0x5156), subAddress.size()},
            Text(subAddress), m_session, m_isSync);
    }

    std::unique_ptr<SimInstrument> m_instrument = CreateInstrument("generic", {"ACME,H,1,1", {}});
    FaultOptions m_faults;
    HislipService m_service{*m_instrument, nullptr, m_faults};
    std::shared_ptr<HislipSessionState> m_session;
    bool m_isSync = false;
};

TEST_F(HislipServiceTest, SharedLocksGoToHoldersOfOneKeyAndBlockTheExclusiveOne) {
    ASSERT_FALSE(Initialize(hs::kVersion20, "hislip0").close);
    const auto a = m_session;
    ASSERT_FALSE(Initialize(hs::kVersion20, "hislip0").close);
    const auto b = m_session;
    const auto lock = [&](HislipSessionState& s, std::uint8_t control, std::string_view key) {
        return Decode(
                   m_service
                       .HandleAsync(s, {MessageType::AsyncLock, control, 0, key.size()}, Text(key))
                       .immediate)
            .controlCode;
    };
    EXPECT_EQ(lock(*a, hs::kLockRequest, "bench"), hs::kLockSuccessShared);
    EXPECT_EQ(lock(*b, hs::kLockRequest, "bench"), hs::kLockSuccessShared);
    EXPECT_EQ(lock(*b, hs::kLockRequest, ""), hs::kLockFailure);
    EXPECT_EQ(lock(*a, hs::kLockRelease, ""), hs::kLockSuccessShared);
    EXPECT_EQ(lock(*a, hs::kLockRequest, "other"), hs::kLockFailure);
    EXPECT_EQ(lock(*b, hs::kLockRelease, ""), hs::kLockSuccessShared);
    EXPECT_EQ(lock(*b, hs::kLockRelease, ""), hs::kLockError);
    EXPECT_EQ(lock(*a, hs::kLockRequest, ""), hs::kLockSuccess);
    // The session that goes releases its lock.
    m_service.EndSession(a->id);
    EXPECT_EQ(lock(*b, hs::kLockRequest, ""), hs::kLockSuccess);
}

TEST(HislipFraming, ResponsesAreCutToTheClientsSizeAndEndWithDataEnd) {
    const std::string bytes(100, 'x');
    // 16 header + 40 payload per message: 40, 40, 20.
    auto pieces = HislipService::FrameResponse(bytes, 7, 56, 0);
    ASSERT_EQ(pieces.size(), 3u);
    std::size_t total = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        HislipBytes header(pieces[i].header.begin(), pieces[i].header.end());
        const hs::Header h = Decode(header);
        EXPECT_EQ(h.type, i + 1 == pieces.size() ? MessageType::DataEnd : MessageType::Data);
        EXPECT_EQ(h.parameter, 7u);
        EXPECT_EQ(h.payloadLength, pieces[i].payload.size());
        total += pieces[i].payload.size();
    }
    EXPECT_EQ(total, bytes.size());
    EXPECT_EQ(HislipService::FrameResponse(bytes, 7, 1 << 20, 30).size(), 4u);
    // An empty response is one empty DataEnd.
    pieces = HislipService::FrameResponse("", 9, 1 << 20, 0);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].header[2], static_cast<std::uint8_t>(MessageType::DataEnd));
}

} // namespace
} // namespace quarvel::sim
