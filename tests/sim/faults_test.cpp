// The fault options of quarvel-sim whose absence the VISA tests against them
// would not notice (tests/visa/sim_test.cpp): observed from a client over
// real sockets. A delay, a cut or overclaimed block and a dropped connection
// fail those tests when the fault is missing; --fault-on's limit fails
// quarvel-cli's failure-reason tests (tests/cli/cli_failure_reasons_test.cpp).

#include "codec/ieee488_block.h"
#include "codec/oncrpc.h"
#include "sim/family_generic.h"
#include "tests/sim/sim_test_client.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

namespace rpc = visa::rpc;

std::string Block(std::size_t n) {
    return visa::FormatBlockHeader(n) + sim::TestBlockData(n) + "\n";
}

TEST(SimFaults, TinyPiecesArriveAsManySmallSegments) {
    SimProcess sim({"--tiny-pieces", "7"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    RawClient c(sim.SocketPort());
    c.Send(":TEST:BLOCK? 2000\n");
    EXPECT_EQ(c.Read(Block(2000).size()), Block(2000));
    // 2007 bytes in 7-byte pieces with pauses between: far more than one
    // receive, even if the kernel merges some.
    EXPECT_GT(c.Receives(), 20);
}

// The VISA layer's chunked writes against this limit are tested in
// tests/visa/sim_test.cpp; a reply longer than the delay is its
// timeout test there too.
TEST(SimFaults, MaxRecvSizeIsOfferedByCreateLink) {
    SimProcess sim({"--max-recv-size", "8"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    RpcClient v(sim.Vxi11Port());
    std::uint32_t maxRecv = 0;
    CreateLink(v, &maxRecv);
    EXPECT_EQ(maxRecv, 8u);
}

std::uint32_t XidOf(const rpc::Bytes& record) {
    rpc::XdrReader in(record);
    std::uint32_t xid = 0;
    in.GetUint32(xid);
    return xid;
}

TEST(SimFaults, Vxi11RepliesComeInSmallFragmentsAfterAStaleCopyOfThePreviousOne) {
    SimProcess sim({"--reply-fragments", "5", "--stale-replies"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    RawClient c(sim.Vxi11Port());
    for (std::uint32_t xid : {101u, 102u}) {
        rpc::Bytes call;
        rpc::EncodeCallHeader(
            call, {xid, rpc::kRpcVersion, rpc::kVxi11CoreProgram, 1, rpc::VXI11_CREATE_LINK});
        rpc::Encode(call, rpc::CreateLinkParms{1, false, 0, "inst0"});
        const auto mark = rpc::EncodeFragmentHeader(static_cast<std::uint32_t>(call.size()), true);
        ASSERT_TRUE(
            c.Send(std::string(mark.begin(), mark.end()) + std::string(call.begin(), call.end())));
        rpc::Bytes record;
        if (xid == 102u) { // the first reply again, late
            ASSERT_TRUE(ReadRecord(c, 5, record));
            EXPECT_EQ(XidOf(record), 101u);
        }
        ASSERT_TRUE(ReadRecord(c, 5, record));
        EXPECT_EQ(XidOf(record), xid);
        EXPECT_GT(record.size(), 5u * 4); // so it took several fragments
    }
}

} // namespace
} // namespace quarvel::test
