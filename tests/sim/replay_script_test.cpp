// The replay's reading of a log: the program messages cut as the instrument
// cuts them, replies joined across reads with their delays, binary replies
// from the side file checked against the log, and clear refusals.

#include "codec/io_log_format.h"
#include "sim/replay_script.h"

#include <gtest/gtest.h>

namespace quarvel::sim {
namespace {

const std::string kHeader = "# quarvel-io-log 1 data=x.data\n";

std::string Op(const std::string& op, double t, const std::string& rest) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", t);
    return std::string("t=") + time + " s=1 rsrc=TCPIP0::h::5025::SOCKET op=" + op +
           " status=VI_SUCCESS dur=1.000" + (rest.empty() ? "" : " " + rest) + "\n";
}

bool Build(const std::string& log, const std::string& side, ReplayScript& script,
           std::string& error) {
    const SideFileReader reader = [&side](const std::string& name, std::uint64_t offset,
                                          std::uint64_t size, std::string& out,
                                          std::string& readError) {
        if (name != "x.data" || offset + size > side.size()) {
            readError = "short";
            return false;
        }
        out = side.substr(offset, size);
        return true;
    };
    return BuildReplayScript(log, reader, script, error);
}

TEST(ReplayScript, CutsMessagesAndJoinsReplies) {
    const std::string block = "#210" + std::string(10, '\xaa');
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
    char fnv[17];
    std::snprintf(fnv, sizeof fnv, "%016llx",
                  static_cast<unsigned long long>(visa::iolog::Fnv1a64(bytes, block.size())));
    // 14 bytes: head and tail are all of them.
    const std::string edge = "23323130aaaaaaaaaaaaaaaaaaaa";
    const std::string& tail = edge;
    const std::string log =
        kHeader + Op("open", 0, "") + Op("write", 10, "end=no text=\":STOP;*OPC?\\n:WAV:\"") +
        Op("write", 20, "end=yes text=\"DATA?\\n\"") + Op("read", 30, "end=no text=\"1\\n\"") +
        Op("read", 50, "end=no bin=14 head=" + edge + " tail=" + tail + " fnv=" + fnv + " at=3") +
        Op("read", 60, "end=yes text=\"\\n\"") + Op("clear", 70, "");
    ReplayScript script;
    std::string error;
    ASSERT_TRUE(Build(log, "abc" + block, script, error)) << error;
    ASSERT_EQ(script.exchanges.size(), 2u);
    EXPECT_EQ(script.exchanges[0].command, ":STOP;*OPC?");
    EXPECT_EQ(script.exchanges[1].command, ":WAV:DATA?");
    EXPECT_EQ(script.exchanges[1].line, 4u);
    // Every read after the last command belongs to its reply; the wait is
    // from the end of the write to the end of the first read.
    EXPECT_EQ(script.exchanges[1].reply, "1\n" + block + "\n");
    EXPECT_DOUBLE_EQ(script.exchanges[1].delayMs, 10.0);
    EXPECT_TRUE(script.exchanges[0].reply.empty());

    // The side file must hold what the log says.
    EXPECT_FALSE(Build(log, "abc" + block.substr(0, 13) + "x", script, error));
    EXPECT_NE(error.find("line 6: x.data at 3: the data differs"), std::string::npos) << error;
    EXPECT_FALSE(Build(log, "abc", script, error));
    EXPECT_NE(error.find("line 6: short"), std::string::npos) << error;
}

TEST(ReplayScript, RefusesWithTheLineAndTheReason) {
    struct Case {
        std::string log;
        std::string error;
    };
    const Case cases[] = {
        {"hello\n", "line 1: expected t=<ms>"},
        {Op("write", 1, "end=yes text=\"*IDN?\\n\""),
         "line 1: an operation before the log's header"},
        {"", "not a Quarvel I/O log"},
        {kHeader + Op("read", 1, "end=yes text=\"x\\n\""),
         "line 2: the instrument sent bytes before any command"},
        {"# quarvel-io-log 1\n" + Op("write", 1, "end=yes text=\"A?\\n\"") +
             Op("read", 2,
                "end=no bin=100 head=00000000000000000000000000000000 tail="
                "00000000000000000000000000000000 fnv=0000000000000000"),
         "line 3: a binary payload of 100 bytes was not kept"},
    };
    for (const Case& c : cases) {
        ReplayScript script;
        std::string error;
        EXPECT_FALSE(Build(c.log, "", script, error)) << c.log;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

} // namespace
} // namespace quarvel::sim
