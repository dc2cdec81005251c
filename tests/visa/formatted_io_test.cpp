// Formatted I/O through real sessions on the in-memory device, which can
// signal END (as VXI-11 does) or not (as a raw socket, where a line feed ends
// a text read) and hand out its replies in pieces of any size.

#include "visa/transport_memory.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstring>
#include <locale>
#include <string>
#include <vector>

using quarvel::visa::MemoryDevice;
using quarvel::visa::MemoryDeviceOptions;

namespace {

class VisaFormattedIo : public ::testing::Test {
protected:
    // Opens a fresh device (closing the last one), as the options say.
    void Open(const MemoryDeviceOptions& options = {}) {
        TearDown();
        quarvel::visa::RegisterMemoryTransport();
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_device = quarvel::visa::CreateMemoryDevice(name, options);
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        ASSERT_EQ(viOpen(m_rm, ("QVMEM::" + name + "::INSTR").c_str(), VI_NULL, 0, &m_vi),
                  VI_SUCCESS);
    }
    void TearDown() override {
        if (m_rm != VI_NULL)
            viClose(m_rm);
        m_rm = VI_NULL;
    }

    // *OPC? answers 1: the session is in step with the device.
    void ExpectOpc() {
        ViInt32 opc = 0;
        ASSERT_EQ(viQueryf(m_vi, "*OPC?\n", "%d", &opc), VI_SUCCESS);
        EXPECT_EQ(opc, 1);
    }

    std::shared_ptr<MemoryDevice> m_device;
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

std::string Block(const std::string& data) {
    return "#" + std::to_string(std::to_string(data.size()).size()) + std::to_string(data.size()) +
           data;
}

// Binary data full of line feeds, CRs and NULs.
std::string BinaryData(std::size_t n) {
    std::string data(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        data[i] = static_cast<char>("\n\r\0#9A\xff"[i % 7]);
    return data;
}

// A ',' decimal separator for every iostream, as a German desktop has.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

} // namespace

TEST_F(VisaFormattedIo, PrintfSendsEachLineAsOneMessageWithPointDecimals) {
    Open();
    // Whatever locale the program runs in, instrument numbers keep their '.'.
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "de_DE.UTF-8 is not installed (scripts/test.sh generates it)";
    const std::locale savedGlobal =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    ASSERT_EQ(viPrintf(m_vi, ":TIM:SCAL %lf;:CHAN%u:OFFS %lf;:X %d\n", 0.0025, 2u, -1.5, -42),
              VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, ":DISP:TEXT \"%s\"\n:A %.3e %g %5.1f|%-4d|%04d|%x\n", "a b", 123456.0,
                       0.0001, 2.25, 7, 7, 255u),
              VI_SUCCESS);
    std::setlocale(LC_ALL, "C");
    std::locale::global(savedGlobal);

    const std::vector<std::string> expected = {":TIM:SCAL 0.002500;:CHAN2:OFFS -1.500000;:X -42\n",
                                               ":DISP:TEXT \"a b\"\n",
                                               ":A 1.235e+05 0.0001   2.2|7   |0007|ff\n"};
    EXPECT_EQ(m_device->Messages(), expected);
}

TEST_F(VisaFormattedIo, PrintfKeepsTextWithoutLineFeedUntilFlushed) {
    Open();
    ASSERT_EQ(viPrintf(m_vi, "*RST;"), VI_SUCCESS);
    EXPECT_TRUE(m_device->Messages().empty());
    ASSERT_EQ(viPrintf(m_vi, "*CLS"), VI_SUCCESS);
    ASSERT_EQ(viFlush(m_vi, VI_WRITE_BUF), VI_SUCCESS);
    EXPECT_EQ(m_device->Messages(), std::vector<std::string>{"*RST;*CLS"});

    // Discarded text never goes out; a bad conversion fails the call.
    ASSERT_EQ(viPrintf(m_vi, "LOST"), VI_SUCCESS);
    ASSERT_EQ(viFlush(m_vi, VI_READ_BUF_DISCARD | VI_WRITE_BUF_DISCARD), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "KEPT\\n"), VI_SUCCESS); // the two-character escape also ends it
    EXPECT_EQ(m_device->Messages().back(), "KEPT\n");
    EXPECT_EQ(viPrintf(m_vi, "%q\n", 1), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(viFlush(m_vi, VI_READ_BUF | VI_READ_BUF_DISCARD), VI_ERROR_INV_MASK);
    EXPECT_EQ(viFlush(m_vi, 0x100), VI_ERROR_INV_MASK);
}

TEST_F(VisaFormattedIo, NumbersAndWordsFromRepliesInTinyPieces) {
    Open({.pieceSize = 1});
    m_device->QueueReply("+1\n");
    m_device->QueueReply("-12345,+2.5E-03 RUN\r\n");
    m_device->QueueReply("1.0E+01\n");
    ViInt32 opc = 0;
    ASSERT_EQ(viQueryf(m_vi, "*OPC?\n", "%d", &opc), VI_SUCCESS);
    EXPECT_EQ(opc, 1);
    ViInt32 a = 0;
    double b = 0;
    char word[256] = {};
    ASSERT_EQ(viQueryf(m_vi, "X?\n", "%ld,%lf %s", &a, &b, word), VI_SUCCESS);
    EXPECT_EQ(a, -12345);
    EXPECT_DOUBLE_EQ(b, 2.5e-3);
    EXPECT_STREQ(word, "RUN"); // the CR LF is white space, not part of the word
    // A number written as a real is read by %d too.
    ASSERT_EQ(viQueryf(m_vi, "Y?\n", "%d", &opc), VI_SUCCESS);
    EXPECT_EQ(opc, 10);
    EXPECT_EQ(m_device->Messages(), (std::vector<std::string>{"*OPC?\n", "X?\n", "Y?\n"}));
}

TEST_F(VisaFormattedIo, GarbageOrMissingRepliesGiveErrorsNotHangs) {
    Open();
    m_device->QueueReply("RUN\n");
    ViInt32 value = 7;
    EXPECT_EQ(viQueryf(m_vi, "A?\n", "%d", &value), VI_ERROR_INV_FMT);
    EXPECT_EQ(value, 7);
    // Nothing queued: the device stays silent.
    EXPECT_EQ(viQueryf(m_vi, "B?\n", "%d", &value), VI_ERROR_TMO);
    m_device->QueueReply("99999999999\n");
    EXPECT_EQ(viQueryf(m_vi, "C?\n", "%d", &value), VI_ERROR_INV_FMT); // beyond 32 bits
}

TEST_F(VisaFormattedIo, LongIdnReplyIsCutToTheBufferAndTheRestDropped) {
    Open({.signalsEnd = false, .pieceSize = 7});
    const std::string idn = "MAKER," + std::string(300, 'M') + ",SERIAL,1.0";
    m_device->QueueReply(idn + "\r\n");
    m_device->QueueReply("+0,\"No error\"\n");
    // A guard after the 256-byte buffer shows nothing is written past it.
    char buffer[256 + 16];
    std::memset(buffer, 'G', sizeof buffer);
    ASSERT_EQ(viQueryf(m_vi, "*IDN?\n", "%t", buffer), VI_SUCCESS);
    EXPECT_EQ(std::string(buffer), idn.substr(0, 255));
    for (std::size_t i = 256; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], 'G');
    // The next reply is not polluted by the rest of the long one.
    ASSERT_EQ(viQueryf(m_vi, "SYST:ERR?\n", "%t", buffer), VI_SUCCESS);
    EXPECT_STREQ(buffer, "+0,\"No error\"\n");
}

TEST_F(VisaFormattedIo, TextWidthsAndCountsBoundTheCallersBuffer) {
    Open();
    m_device->QueueReply("ABCDEFGHIJ KLMNOP\n");
    m_device->QueueReply("0123456789\n");
    m_device->QueueReply("short\r\n");
    char small[8];
    char second[8];
    ASSERT_EQ(viScanf(m_vi, "%8s%8s", small, second), VI_SUCCESS);
    EXPECT_STREQ(small, "ABCDEFG"); // rest of the word dropped
    EXPECT_STREQ(second, "KLMNOP");
    ViUInt32 count = 5;
    ASSERT_EQ(viScanf(m_vi, "%#t", &count, small), VI_SUCCESS);
    EXPECT_EQ(count, 4u);
    EXPECT_STREQ(small, "0123");
    char reply[64];
    ASSERT_EQ(viScanf(m_vi, "%64t", reply), VI_SUCCESS);
    EXPECT_STREQ(reply, "short\r\n"); // %t keeps the terminator, CR LF included
}

TEST_F(VisaFormattedIo, DefiniteBlockOverEndAndOverSocketWithLineFeedsInside) {
    // Firmware ends a block with a line feed, NULs and a line feed, or nothing
    // at all; without END nothing may wait for a terminator, and no tail may
    // reach the next reply.
    for (const bool signalsEnd : {true, false}) {
        for (const std::string& tail :
             {std::string("\n"), std::string("\0\0\n", 3), std::string()}) {
            SCOPED_TRACE(::testing::Message() << "END " << signalsEnd << ", tail " << tail.size());
            Open({.signalsEnd = signalsEnd, .pieceSize = 1000});
            const std::string data = BinaryData(100000);
            m_device->QueueReply(Block(data) + tail);
            m_device->QueueReply("1\n");
            m_device->QueueReply("\n");
            std::vector<unsigned char> buffer(200000, 0xEE);
            ViUInt32 count = static_cast<ViUInt32>(buffer.size());
            ASSERT_EQ(viQueryf(m_vi, ":DISP:DATA?\n", "%#b\n", &count, buffer.data()), VI_SUCCESS);
            ASSERT_EQ(count, data.size());
            EXPECT_EQ(std::memcmp(buffer.data(), data.data(), data.size()), 0);
            EXPECT_EQ(buffer[data.size()], 0xEE);
            EXPECT_EQ(viFlush(m_vi, VI_READ_BUF), VI_SUCCESS);
            ExpectOpc();
            // Only one line feed belongs to a tail: an empty reply stays one.
            char reply[8] = "x";
            ViUInt32 got = 0;
            EXPECT_EQ(viRead(m_vi, reinterpret_cast<ViByte*>(reply), sizeof reply, &got),
                      VI_SUCCESS);
            EXPECT_EQ(std::string(reply, got), "\n");
        }
    }
}

// A reply that is no block (Siglent's bare BMP) stays unread for the
// caller's own reading: the Siglent raw-BMP habits of InstrumentHabit and the
// SDS1104X-E recording read it through the driver, the next reply clean.

TEST_F(VisaFormattedIo, OversizedBlockFillsTheBufferAndFlushDropsTheRest) {
    for (const bool signalsEnd : {true, false}) {
        Open({.signalsEnd = signalsEnd, .pieceSize = 333});
        const std::string data = BinaryData(5000);
        m_device->QueueReply(Block(data) + "\n");
        m_device->QueueReply("NEXT\n");
        std::vector<unsigned char> buffer(1000 + 1, 0xEE);
        ViUInt32 count = 1000;
        ASSERT_EQ(viScanf(m_vi, "%#b \n", &count, buffer.data()), VI_SUCCESS);
        EXPECT_EQ(count, 1000u);
        EXPECT_EQ(std::memcmp(buffer.data(), data.data(), 1000), 0);
        EXPECT_EQ(buffer[1000], 0xEE);
        // The rest goes by its length, line feeds in it notwithstanding.
        ASSERT_EQ(viFlush(m_vi, VI_READ_BUF), VI_SUCCESS);
        char word[16];
        ASSERT_EQ(viScanf(m_vi, "%16s", word), VI_SUCCESS);
        EXPECT_STREQ(word, "NEXT");
    }
}

TEST_F(VisaFormattedIo, TruncatedAndMalformedBlocksFail) {
    Open();
    std::vector<unsigned char> buffer(100);
    ViUInt32 count = 100;
    m_device->QueueReply("#210abc\n"); // claims 10, ends after 4
    EXPECT_EQ(viScanf(m_vi, "%#b\n", &count, buffer.data()), VI_ERROR_IO);
    EXPECT_EQ(count, 4u);
    // A header that is none fails with VI_ERROR_INV_FMT: the Siglent raw-BMP
    // cases of InstrumentHabit read their bare file on that status.
    // Over a socket, a block cut short leaves the reader waiting: a timeout,
    // not a hang.
    Open({.signalsEnd = false});
    m_device->QueueReply("#210abc\n");
    count = 100;
    EXPECT_EQ(viScanf(m_vi, "%#b\n", &count, buffer.data()), VI_ERROR_TMO);
    // A connection dropped in the middle of a block.
    Open({.signalsEnd = false, .dropWhenEmpty = true});
    m_device->QueueReply("#41000" + BinaryData(300));
    std::vector<unsigned char> big(2000);
    count = 2000;
    EXPECT_EQ(viScanf(m_vi, "%#b\n", &count, big.data()), VI_ERROR_CONN_LOST);
    EXPECT_EQ(count, 300u);
}

TEST_F(VisaFormattedIo, IndefiniteBlockRunsToTheEndOfTheMessage) {
    Open();
    m_device->QueueReply("#0" + std::string("raw\x00\x01", 5) + "\n");
    std::vector<unsigned char> buffer(64);
    ViUInt32 count = 64;
    ASSERT_EQ(viScanf(m_vi, "%#b\n", &count, buffer.data()), VI_SUCCESS);
    ASSERT_EQ(count, 5u); // the final line feed is the terminator, not data
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 5), std::string("raw\x00\x01", 5));
}

TEST_F(VisaFormattedIo, ReadReportsMessageEndOrFullCount) {
    Open({.pieceSize = 3});
    m_device->QueueReply("0123456789");
    unsigned char buffer[16];
    ViUInt32 got = 0;
    EXPECT_EQ(viRead(m_vi, buffer, 4, &got), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(viRead(m_vi, buffer, 16, &got), VI_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "456789");
    // Exactly the count and the end together: the message ended.
    m_device->QueueReply("abcd");
    EXPECT_EQ(viRead(m_vi, buffer, 4, &got), VI_SUCCESS);
    EXPECT_EQ(viRead(m_vi, buffer, 4, &got), VI_ERROR_TMO);

    // viWrite sends one message (viClear reaching the instrument:
    // VisaSim.ClearDropsAnUnreadReply).
    ViUInt32 written = 0;
    ASSERT_EQ(viWrite(m_vi, reinterpret_cast<const unsigned char*>("RAW\n"), 4, &written),
              VI_SUCCESS);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(m_device->Messages().back(), "RAW\n");
}

TEST_F(VisaFormattedIo, EndlessRepliesAreCutOffByTheTimeout) {
    for (const char fill : {' ', 'x'}) {
        Open({.endlessFill = fill});
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
        char text[256];
        ViInt32 value = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(viScanf(m_vi, "%t", text), VI_ERROR_TMO);
        EXPECT_EQ(viScanf(m_vi, fill == ' ' ? "%d" : "%s",
                          fill == ' ' ? static_cast<void*>(&value) : text),
                  VI_ERROR_TMO);
        EXPECT_EQ(viFlush(m_vi, VI_READ_BUF), VI_ERROR_TMO);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

// The timeout bounds each wait, not a whole transfer: a block that arrives
// steadily but takes longer than one timeout is read whole, with the line
// feed after it.
TEST_F(VisaFormattedIo, SteadyBlockSlowerThanTheTimeoutIsReadWhole) {
    Open({.pieceSize = 100, .readDelay = std::chrono::milliseconds(20)});
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 150), VI_SUCCESS);
    const std::string data = BinaryData(2000); // 21 reads, over 400 ms
    m_device->QueueReply(Block(data) + "\n");
    std::vector<unsigned char> buffer(3000);
    ViUInt32 count = static_cast<ViUInt32>(buffer.size());
    ASSERT_EQ(viScanf(m_vi, "%#b\n", &count, buffer.data()), VI_SUCCESS);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + count), data);
}

namespace {

// viRead of replies that do or do not begin with a block header, in reads of
// `chunk` bytes: what each read returned, with its status.
struct FramingCase {
    const char* what;
    bool signalsEnd;
    bool termCharEnabled;
    std::string reply;
    std::vector<std::string> reads; // what each read returns, the last ending the reply
};

TEST_F(VisaFormattedIo, ReadTakesABlockAtTheStartOfAReplyByItsLength) {
    const std::string data = BinaryData(40);
    const std::vector<FramingCase> cases = {
        {"the termination character does not end a block's read",
         false,
         true,
         Block(data) + "\n",
         {Block(data) + "\n"}},
        {"termination character over a transport with END",
         true,
         true,
         Block(data) + "\n",
         {Block(data) + "\n"}},
        {"on a socket, a block's line feeds, NULs and CR are data, its line feed ends the read",
         false,
         false,
         Block(data) + std::string("\0\0\r\n", 4),
         {Block(data) + std::string("\0\0\r\n", 4)}},
        {"no block: each line feed ends a read", false, false, "#A\nB\n", {"#A\n", "B\n"}},
        {"an indefinite block has no length to go by", false, false, "#0a\nb\n", {"#0a\n", "b\n"}},
        {"a header whose digits break off is no block",
         false,
         false,
         "#3 1\n23\n",
         {"#3 1\n", "23\n"}},
        {"text reply", false, true, "1.5E+3\n", {"1.5E+3\n"}},
    };
    for (const FramingCase& c : cases)
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
            SCOPED_TRACE(std::string(c.what) + ", device pieces of " + std::to_string(piece));
            Open({.signalsEnd = c.signalsEnd, .pieceSize = piece});
            ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, c.termCharEnabled), VI_SUCCESS);
            m_device->QueueReply(c.reply);
            m_device->QueueReply("NEXT\n");
            for (const std::string& expected : c.reads) {
                std::vector<ViByte> buffer(4096);
                ViUInt32 got = 0;
                const ViStatus s =
                    viRead(m_vi, buffer.data(), static_cast<ViUInt32>(buffer.size()), &got);
                EXPECT_TRUE(s == VI_SUCCESS || s == VI_SUCCESS_TERM_CHAR) << s;
                EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), expected);
            }
            // The next reply is the next query's own.
            std::vector<ViByte> next(64);
            ViUInt32 gotNext = 0;
            viRead(m_vi, next.data(), static_cast<ViUInt32>(next.size()), &gotNext);
            EXPECT_EQ(std::string(next.begin(), next.begin() + gotNext), "NEXT\n");
            // In chunks smaller than the block, the count fills first.
            if (c.reads.size() == 1 && c.reads[0].size() > 16) {
                m_device->QueueReply(c.reply);
                std::string joined;
                ViStatus s = VI_SUCCESS_MAX_CNT;
                std::vector<ViByte> buffer(16);
                while (s == VI_SUCCESS_MAX_CNT) {
                    ViUInt32 got = 0;
                    s = viRead(m_vi, buffer.data(), 16, &got);
                    joined.append(buffer.begin(), buffer.begin() + got);
                }
                EXPECT_TRUE(s == VI_SUCCESS || s == VI_SUCCESS_TERM_CHAR) << s;
                EXPECT_EQ(joined, c.reads[0]);
            }
        }
}

} // namespace
