#include "codec/oncrpc.h"

#include <gtest/gtest.h>

namespace rpc = quarvel::visa::rpc;

namespace {

rpc::Bytes Words(std::initializer_list<std::uint32_t> words) {
    rpc::Bytes out;
    rpc::XdrWriter w(out);
    for (auto word : words)
        w.PutUint32(word);
    return out;
}

} // namespace

TEST(VisaOncRpc, XdrOpaqueIsPaddedAndBoundedByInputAndLimit) {
    rpc::Bytes out;
    rpc::XdrWriter(out).PutString("abcde");
    // Length word, five bytes, three bytes of zero padding.
    ASSERT_EQ(out.size(), 12u);
    EXPECT_EQ(out[3], 5);
    EXPECT_EQ(out[9], 0);

    std::string text;
    rpc::XdrReader ok(out);
    EXPECT_TRUE(ok.GetString(text, 16));
    EXPECT_EQ(text, "abcde");
    EXPECT_TRUE(ok.Done());

    rpc::XdrReader overLimit(out);
    EXPECT_FALSE(overLimit.GetString(text, 4));
    EXPECT_FALSE(overLimit.Ok());

    // Length claims more than is there, and padding missing at the end.
    const rpc::Bytes claimsTooMuch = Words({0xFFFFFFF0u, 1});
    rpc::XdrReader r1(claimsTooMuch);
    EXPECT_FALSE(r1.GetString(text, SIZE_MAX));
    rpc::Bytes noPadding(out.begin(), out.end() - 1);
    rpc::XdrReader r2(noPadding);
    EXPECT_FALSE(r2.GetString(text, 16));
    // Once failed, the reader stays failed.
    std::uint32_t word = 0;
    EXPECT_FALSE(r2.GetUint32(word));
}

TEST(VisaOncRpc, Vxi11MessagesRoundTrip) {
    rpc::Bytes out;
    rpc::Encode(out, rpc::CreateLinkParms{42, false, 2000, "inst0"});
    const std::uint8_t data[] = {'*', 'I', 'D', 'N', '?', '\n'};
    rpc::Encode(out, rpc::DeviceWriteParms{5, 2000, 0, rpc::kVxi11FlagEnd, data});
    rpc::Encode(out, rpc::DeviceReadResp{0, rpc::kVxi11ReasonEnd, data});
    rpc::Encode(out, rpc::CreateLinkResp{0, 5, 0, 1024});

    rpc::XdrReader in(out);
    rpc::CreateLinkParms link;
    rpc::DeviceWriteParms write;
    rpc::DeviceReadResp read;
    rpc::CreateLinkResp linkResp;
    ASSERT_TRUE(rpc::Decode(in, link));
    ASSERT_TRUE(rpc::Decode(in, write));
    ASSERT_TRUE(rpc::Decode(in, read));
    ASSERT_TRUE(rpc::Decode(in, linkResp));
    EXPECT_TRUE(in.Done());
    EXPECT_EQ(link.device, "inst0");
    EXPECT_EQ(link.lockTimeout, 2000u);
    EXPECT_EQ(write.flags, rpc::kVxi11FlagEnd);
    EXPECT_EQ(std::string(write.data.begin(), write.data.end()), "*IDN?\n");
    EXPECT_EQ(read.reason, rpc::kVxi11ReasonEnd);
    EXPECT_EQ(read.data.size(), 6u);
    EXPECT_EQ(linkResp.maxRecvSize, 1024u);

    // A bool other than 0/1 and a port over 16 bits are malformed.
    const rpc::Bytes badBool = Words({1, 2, 0, 0});
    rpc::XdrReader b(badBool);
    EXPECT_FALSE(rpc::Decode(b, link));
    const rpc::Bytes badPort = Words({70000});
    rpc::XdrReader p(badPort);
    std::uint32_t port = 0;
    EXPECT_FALSE(rpc::DecodeGetPortResult(p, port));
}
