// The bounded exchanges of the waveform retrieval, through real VISA
// sessions on the in-memory device: both kinds of message end (END, and a
// raw socket's line feed), replies in small pieces, replies too long.
#include "instr/instr_keys_infiniivision.h"
#include "instr/retrieval_io.h"
#include "tests/instr/scripted_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quarvel::wavedata;
using quarvel::test::ScriptedSession;
using quarvel::visa::MemoryDevice;
using quarvel::visa::MemoryDeviceOptions;

namespace {

// Message ends as the parameter says (END, or a raw socket's line feed),
// replies in pieces of three bytes.
class RetrievalIo : public ::testing::TestWithParam<bool> {
protected:
    static MemoryDeviceOptions Options(bool signalsEnd) {
        MemoryDeviceOptions options;
        options.signalsEnd = signalsEnd;
        options.pieceSize = 3;
        return options;
    }
    void SetUp() override { ASSERT_TRUE(m_session.Open()); }

    ScriptedSession m_session{Options(GetParam())};
    MemoryDevice* m_device = &m_session.Device();
    ViSession m_vi = m_session.Session();
};

} // namespace

TEST_P(RetrievalIo, CommandsEndWithTheirLineFeedAndPercentIsData) {
    EXPECT_TRUE(SendText(m_vi, ":WAV:SOUR CH%d1\n"));
    EXPECT_TRUE(SendText(m_vi, ":RUN"));
    EXPECT_FALSE(SendText(m_vi, std::string(300, 'A') + "\n"));
    EXPECT_EQ(m_device->Messages(), (std::vector<std::string>{":WAV:SOUR CH%d1\n", ":RUN\n"}));
}

TEST_P(RetrievalIo, TextRepliesAreBoundedAndTrimmed) {
    m_device->QueueReply("+1.00000000E-03\r\n");
    std::string line;
    ASSERT_TRUE(QueryLine(m_vi, ":TIM:RANG?\n", 1024, line));
    EXPECT_EQ(line, "+1.00000000E-03");

    // 300 characters do not fit 256: refused, and the rest of the reply is
    // dropped so the next reply is read whole.
    m_device->QueueReply(std::string(300, 'x') + "\n");
    m_device->QueueReply("  AVER  extra\n");
    EXPECT_FALSE(QueryLine(m_vi, "UNIT:POW?\n", 256, line));
    std::string word;
    ASSERT_TRUE(QueryWord(m_vi, ":ACQ:TYPE?\n", 256, word));
    EXPECT_EQ(word, "AVER");

    // A reply of exactly one read chunk that ends with its line feed.
    m_device->QueueReply(std::string(255, 'y') + "\n");
    m_device->QueueReply("+1\n");
    ASSERT_TRUE(QueryLine(m_vi, "A?\n", 1024, line));
    EXPECT_EQ(line.size(), 255u);
    std::int32_t value = 0;
    ASSERT_TRUE(QueryInt32(m_vi, ":STAT? CHAN1\n", value));
    EXPECT_EQ(value, 1);
}

TEST_P(RetrievalIo, IntegerRepliesMustBeNumbersThatFit) {
    std::int32_t value = 7;
    for (const char* reply : {"ON\n", "+4294967296\n", "\n"}) {
        m_device->QueueReply(reply);
        EXPECT_FALSE(QueryInt32(m_vi, ":ACQ:POIN?\n", value)) << reply;
    }
    EXPECT_EQ(value, 7);
    m_device->QueueReply("-12\n");
    ASSERT_TRUE(QueryInt32(m_vi, ":ACQ:POIN?\n", value));
    EXPECT_EQ(value, -12);
    // No reply at all.
    EXPECT_FALSE(QueryInt32(m_vi, ":ACQ:POIN?\n", value));
}

TEST_P(RetrievalIo, RawReadsGoOnAcrossLineFeedsInTheData) {
    const std::string data("\x01\n\x02\n\n\x03\x04\n", 8);
    m_device->QueueReply(data + "\n");
    std::vector<std::uint8_t> bytes(8);
    ASSERT_TRUE(ReadExactly(m_vi, bytes.data(), bytes.size()));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), data);

    // Fewer bytes than asked for: the read fails instead of inventing any.
    viFlush(m_vi, VI_READ_BUF);
    m_device->QueueReply("\x05\x06\n");
    std::vector<std::uint8_t> more(16);
    EXPECT_FALSE(ReadExactly(m_vi, more.data(), more.size()));
}

INSTANTIATE_TEST_SUITE_P(MessageEnds, RetrievalIo, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "EndSignalled" : "LineFeedOnly";
                         });

// The InfiniiVision driver on a scripted session: replies no simulator
// would give.
TEST(InfiniiVisionScripted, SavedRangeMustBeANumber) {
    ScriptedSession session;
    ASSERT_TRUE(session.Open());
    MemoryDevice* device = &session.Device();
    CInstrKeysInfiniiVision driver;
    driver.SetSession(session.Session());

    // A range reply with a second command in it is not sent back.
    device->QueueReply("1E-3;*RST\n");
    EXPECT_TRUE(driver.BeginDataCapture()); // the points query then finds no reply
    EXPECT_TRUE(driver.EndDataCapture());
    EXPECT_EQ(device->Messages(),
              (std::vector<std::string>{":TIMEBASE:RANGE?\n", ":ACQUIRE:POINTS?\n"}));
}
