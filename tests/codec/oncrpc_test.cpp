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

// The padded layout goes through every VXI-11 test and Wireshark's decoder
// (tests/visa/wire_decoder_test.cpp); here what the reader refuses.
TEST(VisaOncRpc, XdrOpaqueIsBoundedByInputAndLimit) {
    rpc::Bytes out;
    rpc::XdrWriter(out).PutString("abcde");
    std::string text;
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

// The VXI-11 messages' happy paths go through every VXI-11 test and
// Wireshark's decoder (tests/visa/wire_decoder_test.cpp); here what they
// refuse: a bool other than 0/1 and a port over 16 bits.
TEST(VisaOncRpc, Vxi11MessagesRefuseValuesOutOfTheirRange) {
    rpc::CreateLinkParms link;
    const rpc::Bytes badBool = Words({1, 2, 0, 0});
    rpc::XdrReader b(badBool);
    EXPECT_FALSE(rpc::Decode(b, link));
    const rpc::Bytes badPort = Words({70000});
    rpc::XdrReader p(badPort);
    std::uint32_t port = 0;
    EXPECT_FALSE(rpc::DecodeGetPortResult(p, port));
}
