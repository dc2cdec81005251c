// The server half of ONC RPC (sim/rpc_server.h) against the shared codecs:
// the refusals the client's decoder reads back (accepted calls go through
// every VXI-11 test), and records reassembled from any pieces.

#include "sim/rpc_server.h"

#include <gtest/gtest.h>

namespace quarvel {

namespace rpc = visa::rpc;

TEST(SimRpcServer, RefusalsAreRepliesTheClientReadsAndACallIsNoReply) {
    rpc::Bytes call;
    rpc::EncodeCallHeader(call, {0x1234, rpc::kRpcVersion, rpc::kVxi11CoreProgram,
                                 rpc::kVxi11CoreVersion, rpc::VXI11_DEVICE_READ});
    // A call is not a reply.
    rpc::ReplyHeader reply;
    rpc::XdrReader asReply(call);
    EXPECT_FALSE(rpc::DecodeReplyHeader(asReply, reply));

    rpc::Bytes mismatch;
    sim::EncodeAcceptedReply(mismatch, 7, rpc::PROG_MISMATCH, 1, 1);
    rpc::XdrReader m(mismatch);
    ASSERT_TRUE(rpc::DecodeReplyHeader(m, reply));
    EXPECT_FALSE(rpc::ReplySucceeded(reply));
    EXPECT_EQ(reply.stat, rpc::PROG_MISMATCH);
    EXPECT_TRUE(m.Done());

    rpc::Bytes denied;
    sim::EncodeDeniedReply(denied, 9, rpc::RPC_MISMATCH, 2, 2);
    rpc::XdrReader d(denied);
    ASSERT_TRUE(rpc::DecodeReplyHeader(d, reply));
    EXPECT_EQ(reply.replyStat, rpc::MSG_DENIED);
    EXPECT_EQ(reply.mismatchHigh, 2u);
    EXPECT_TRUE(d.Done());
}

TEST(SimRpcServer, RecordAssemblerJoinsFragmentsFedByteByByteAndBoundsSize) {
    rpc::Bytes payload(1000);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7);
    rpc::Bytes stream;
    sim::AppendRecord(stream, payload, 300); // four fragments
    sim::AppendRecord(stream, rpc::Bytes{1, 2, 3});
    ASSERT_EQ(stream.size(), 1000 + 4 * 4 + 3 + 4);

    sim::RecordAssembler assembler(1000);
    std::vector<rpc::Bytes> records;
    for (std::uint8_t byte : stream) {
        std::size_t consumed = 0;
        const auto state = assembler.Feed(rpc::ByteView(&byte, 1), &consumed);
        EXPECT_EQ(consumed, 1u);
        ASSERT_NE(state, sim::RecordAssembler::State::TooLarge);
        if (state == sim::RecordAssembler::State::RecordReady)
            records.push_back(assembler.TakeRecord());
    }
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], payload);
    EXPECT_EQ(records[1], (rpc::Bytes{1, 2, 3}));

    sim::RecordAssembler small(999);
    std::size_t consumed = 0;
    EXPECT_EQ(small.Feed(stream, &consumed), sim::RecordAssembler::State::TooLarge);
}

} // namespace quarvel
