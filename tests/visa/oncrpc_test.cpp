#include "visa/oncrpc.h"

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

TEST(VisaOncRpc, CallAndReplyHeadersRoundTripAndRejectWrongMessageType) {
    rpc::Bytes call;
    rpc::EncodeCallHeader(call, {0x1234, rpc::kRpcVersion, rpc::kVxi11CoreProgram,
                                 rpc::kVxi11CoreVersion, rpc::VXI11_DEVICE_READ});
    rpc::CallHeader decoded;
    rpc::XdrReader in(call);
    ASSERT_TRUE(rpc::DecodeCallHeader(in, decoded));
    EXPECT_TRUE(in.Done());
    EXPECT_EQ(decoded.xid, 0x1234u);
    EXPECT_EQ(decoded.program, rpc::kVxi11CoreProgram);
    EXPECT_EQ(decoded.procedure, rpc::VXI11_DEVICE_READ);

    // A call is not a reply.
    rpc::ReplyHeader reply;
    rpc::XdrReader asReply(call);
    EXPECT_FALSE(rpc::DecodeReplyHeader(asReply, reply));

    rpc::Bytes mismatch;
    rpc::EncodeAcceptedReply(mismatch, 7, rpc::PROG_MISMATCH, 1, 1);
    rpc::XdrReader m(mismatch);
    ASSERT_TRUE(rpc::DecodeReplyHeader(m, reply));
    EXPECT_FALSE(rpc::ReplySucceeded(reply));
    EXPECT_EQ(reply.stat, rpc::PROG_MISMATCH);
    EXPECT_TRUE(m.Done());

    rpc::Bytes denied;
    rpc::EncodeDeniedReply(denied, 9, rpc::RPC_MISMATCH, 2, 2);
    rpc::XdrReader d(denied);
    ASSERT_TRUE(rpc::DecodeReplyHeader(d, reply));
    EXPECT_EQ(reply.replyStat, rpc::MSG_DENIED);
    EXPECT_EQ(reply.mismatchHigh, 2u);
    EXPECT_TRUE(d.Done());
}

TEST(VisaOncRpc, RecordAssemblerJoinsFragmentsFedByteByByteAndBoundsSize) {
    rpc::Bytes payload(1000);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7);
    rpc::Bytes stream;
    rpc::AppendRecord(stream, payload, 300); // four fragments
    rpc::AppendRecord(stream, rpc::Bytes{1, 2, 3});
    ASSERT_EQ(stream.size(), 1000 + 4 * 4 + 3 + 4);

    rpc::RecordAssembler assembler(1000);
    std::vector<rpc::Bytes> records;
    for (std::uint8_t byte : stream) {
        std::size_t consumed = 0;
        const auto state = assembler.Feed(rpc::ByteView(&byte, 1), &consumed);
        EXPECT_EQ(consumed, 1u);
        ASSERT_NE(state, rpc::RecordAssembler::State::TooLarge);
        if (state == rpc::RecordAssembler::State::RecordReady)
            records.push_back(assembler.TakeRecord());
    }
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], payload);
    EXPECT_EQ(records[1], (rpc::Bytes{1, 2, 3}));

    rpc::RecordAssembler small(999);
    std::size_t consumed = 0;
    EXPECT_EQ(small.Feed(stream, &consumed), rpc::RecordAssembler::State::TooLarge);
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
