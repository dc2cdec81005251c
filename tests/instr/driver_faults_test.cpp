// The screen-image transfer and the drivers when the instrument misbehaves:
// an image longer than the buffer, a reply that never comes, a connection
// that goes away. Every case ends with a clear result within the timeout.
// Also: finding the end of a PNG file that arrives without an END signal.

#include "instr/instr_keys_infiniivision.h"
#include "instr/png_extent.h"
#include "sim/family_generic.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace quarvel::test {
namespace {

using Clock = std::chrono::steady_clock;

// Fetches ":TEST:BLOCK? n" from the generic simulated instrument through the
// same transfer every family uses, read as a block or raw.
class TestBlockDriver : public CInstrLL {
public:
    TestBlockDriver(ViSession session, std::size_t length, ImageRead read)
        : m_query(":TEST:BLOCK? " + std::to_string(length)), m_read(read) {
        SetSession(session);
        m_imageBufferSize = IMAGE_BUFFER_CAPACITY;
    }
    bool GetScreenshot(ByteBuffer& out) override {
        return TransferScreenImage(
            out, {.setUp = {},
                  .query = [this] { return SendCommand(m_query.c_str()) == VI_SUCCESS; },
                  .read = m_read});
    }
    using CInstrLL::ImageRead;

private:
    std::string m_query;
    ImageRead m_read;
};

ByteBuffer ExpectedBlockBytes(std::size_t length) {
    ByteBuffer bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = sim::TestBlockByte(i);
    return bytes;
}

class TransferFaults : public ::testing::TestWithParam<Lan> {};

INSTANTIATE_TEST_SUITE_P(Lan, TransferFaults, ::testing::Values(Lan::Socket, Lan::Vxi11, Lan::Usb),
                         [](const auto& info) { return LanName(info.param); });

TEST_P(TransferFaults, ImageLongerThanTheBufferIsCutAndTheRestDropped) {
    SimProcess sim({"--instrument", "generic", "--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    ASSERT_TRUE(OpenSim(connection, sim, GetParam()));
    const std::size_t length = CInstrLL::IMAGE_BUFFER_CAPACITY + 123457;
    TestBlockDriver driver(connection.GetSession(), length, TestBlockDriver::ImageRead::Block);

    ByteBuffer out = {0xAA}; // the image is appended after what is there
    ASSERT_TRUE(driver.GetScreenshot(out));
    ASSERT_EQ(out.size(), 1 + CInstrLL::IMAGE_BUFFER_CAPACITY);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_TRUE(std::equal(out.begin() + 1, out.end(),
                           ExpectedBlockBytes(CInstrLL::IMAGE_BUFFER_CAPACITY).begin()));

    // The rest of the block went with the flush: the next query gets its own reply.
    ASSERT_TRUE(connection.QueryIdn());
    EXPECT_EQ(connection.GetIdn(), "ACME,X1,1,1.0");
    // And the buffer count is back at the capacity for a shorter image.
    TestBlockDriver shorter(connection.GetSession(), 1000, TestBlockDriver::ImageRead::Block);
    ByteBuffer small;
    ASSERT_TRUE(shorter.GetScreenshot(small));
    EXPECT_EQ(small, ExpectedBlockBytes(1000));
}

TEST_P(TransferFaults, SecondImageOfTheSameDriverIsReadWhole) {
    SimProcess sim({"--instrument", "generic", "--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    ASSERT_TRUE(OpenSim(connection, sim, GetParam()));
    // The first read leaves its length in the count; the second, longer
    // image must still arrive whole.
    TestBlockDriver driver(connection.GetSession(), 5000, TestBlockDriver::ImageRead::Block);
    ByteBuffer first;
    ASSERT_TRUE(driver.GetScreenshot(first));
    EXPECT_EQ(first, ExpectedBlockBytes(5000));
    ASSERT_TRUE(driver.GetScreenshot(first));
    EXPECT_EQ(first.size(), 10000u);
}

// Raw reads end with END, which only VXI-11 carries.
TEST(RawTransferFaults, RawReadThatFillsTheBufferFails) {
    SimProcess sim({"--instrument", "generic", "--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    ASSERT_TRUE(OpenSim(connection, sim, Lan::Vxi11));
    TestBlockDriver driver(connection.GetSession(), CInstrLL::IMAGE_BUFFER_CAPACITY,
                           TestBlockDriver::ImageRead::Raw);
    ByteBuffer out;
    // Header and data exceed the buffer: the read ends full, which is failure.
    EXPECT_FALSE(driver.GetScreenshot(out));
    EXPECT_TRUE(out.empty());
}

TEST(DriverFaults, StalledRunStateQueryTimesOutAndStopsNothing) {
    // Only the run-state query is delayed, longer than the session timeout.
    SimDriver sim("infiniivision", Lan::Socket,
                  {"--delay-ms", "1500", "--fault-on", ":OPERegister:CONDition?"});
    ASSERT_TRUE(sim.Ready());
    ASSERT_TRUE(sim.SetSessionTimeout(300));
    const auto start = Clock::now();
    EXPECT_FALSE(sim.Driver().StopInstrument());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1400));
    // Nothing after the failed query: the instrument keeps running. The
    // simulator reads further commands only once the delayed reply is out.
    std::this_thread::sleep_until(start + std::chrono::milliseconds(2000));
    EXPECT_EQ(sim.Sim().Transcript(), Lines{":OPEREGISTER:CONDITION?"});
    // Outside the image transfer the session's own timeout stays.
    EXPECT_EQ(sim.SessionTimeout(), 300u);
}

TEST(DriverFaults, StalledImageLeavesTheTransferTimeoutInPlace) {
    // The image reply comes later than the transfer timeout, which is
    // shortened from its 30 s (and kept apart from the session's 150 ms), so
    // the image read must fail by the transfer timeout, not the session's.
    SimDriver sim("rigol", Lan::Socket, {"--delay-ms", "20000", "--fault-on", ":DISPlay:DATA?"});
    ASSERT_TRUE(sim.Ready());
    ASSERT_TRUE(sim.SetSessionTimeout(150));
    EXPECT_EQ(sim.Driver().GetTransferTimeout(), CInstrLL::TRANSFER_TIMEOUT_MS);
    sim.Driver().SetTransferTimeout(600);
    ByteBuffer out;
    const auto start = Clock::now();
    EXPECT_FALSE(sim.Driver().GetScreenshot(out));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(600));
    EXPECT_LT(waited, std::chrono::seconds(15));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sim.SessionTimeout(), 600u);
}

TEST_P(TransferFaults, DroppedConnectionFailsTheCaptureAndLaterCommands) {
    SimDriver sim("infiniivision-x", GetParam(),
                  {"--drop-mid-reply", "--fault-on", ":DISPlay:DATA?"});
    ASSERT_TRUE(sim.Ready());
    ASSERT_TRUE(sim.SetSessionTimeout(2000));
    const auto start = Clock::now();
    ByteBuffer out;
    EXPECT_FALSE(sim.Driver().GetScreenshot(out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(sim.Driver().StopInstrument());
    EXPECT_FALSE(sim.Driver().RunInstrument(true, false));
    EXPECT_FALSE(sim.Driver().GetScreenshot(out));
    // A lost connection is reported, not waited out.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
}

TEST_P(TransferFaults, GarbageInsteadOfTheImageFails) {
    SimDriver sim("siglent", GetParam(), {"--garbage", "--fault-on", "SCDP"});
    ASSERT_TRUE(sim.Ready());
    ByteBuffer out;
    EXPECT_FALSE(sim.Driver().GetScreenshot(out));
    EXPECT_TRUE(out.empty());
}

// ---- The end of a raw PNG reply ------------------------------------------
bool Unfinished(const std::string& bytes) {
    return IsUnfinishedPng(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(PngExtent, EveryProperPrefixIsUnfinishedAndTheWholeFileIsNot) {
    const std::string png = SamplePng();
    for (std::size_t n = 1; n < png.size(); ++n)
        EXPECT_TRUE(Unfinished(png.substr(0, n))) << n;
    EXPECT_FALSE(Unfinished(png));
    // Bytes after IEND (a trailing line feed) do not make it unfinished.
    EXPECT_FALSE(Unfinished(png + "\n"));
}

TEST(PngExtent, OtherRepliesAreTakenAsTheyCame) {
    EXPECT_FALSE(Unfinished(""));
    EXPECT_FALSE(Unfinished("BM6\x94\x11"));
    EXPECT_FALSE(Unfinished("#9001152054"));
    EXPECT_FALSE(Unfinished("\x89PNX"));
}

TEST(PngExtent, DamagedChunkLengthLooksUnfinished) {
    std::string png = SamplePng();
    png[8] = '\x7f'; // IHDR now claims about 2 GB
    EXPECT_TRUE(Unfinished(png));
    png[8] = '\xff'; // beyond 32-bit signed: still no overflow
    png[9] = '\xff';
    png[10] = '\xff';
    png[11] = '\xff';
    EXPECT_TRUE(Unfinished(png));
}

} // namespace
} // namespace quarvel::test
