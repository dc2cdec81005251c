// The screen-image transfer and the drivers when the instrument misbehaves:
// an image longer than the buffer, a reply that never comes, a connection
// that goes away. Every case ends with a clear result within the timeout.
// Also: finding the end of a PNG or BMP file that arrives without an END
// signal.

#include "instr/bmp_extent.h"
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

// Fetches ":TEST:BLOCK? <length>" from the generic simulated instrument
// through the same transfer every family uses, read as a block or raw.
class TestBlockDriver : public CInstrLL {
public:
    TestBlockDriver(ViSession session, std::size_t length, ImageRead read)
        : length(length), m_read(read) {
        SetSession(session);
    }
    bool GetScreenshot(ByteBuffer& out) override {
        const std::string query = ":TEST:BLOCK? " + std::to_string(length);
        return TransferScreenImage(
            out, {.setUp = {},
                  .query = [&] { return SendCommand(query.c_str()) == VI_SUCCESS; },
                  .read = m_read});
    }
    using CInstrLL::ImageRead;
    std::size_t length;

private:
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
    TestBlockDriver driver(connection.GetSession(), 5000, TestBlockDriver::ImageRead::Block);
    ByteBuffer out;
    ASSERT_TRUE(driver.GetScreenshot(out));
    EXPECT_EQ(out, ExpectedBlockBytes(5000));

    // The first read left its length in the count: the longer image still
    // fills the whole buffer, appended after what is there.
    driver.length = CInstrLL::IMAGE_BUFFER_CAPACITY + 123457;
    out = {0xAA};
    ASSERT_TRUE(driver.GetScreenshot(out));
    ASSERT_EQ(out.size(), 1 + CInstrLL::IMAGE_BUFFER_CAPACITY);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_TRUE(std::equal(out.begin() + 1, out.end(),
                           ExpectedBlockBytes(CInstrLL::IMAGE_BUFFER_CAPACITY).begin()));

    // The rest of the block went with the flush: the next query gets its own reply.
    ASSERT_TRUE(connection.QueryIdn());
    EXPECT_EQ(connection.GetIdn(), "ACME,X1,1,1.0");
    driver.length = 1000;
    out.clear();
    ASSERT_TRUE(driver.GetScreenshot(out));
    EXPECT_EQ(out, ExpectedBlockBytes(1000));
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

TEST(DriverFaults, StalledImageRestoresTheSessionTimeoutAndSaysWhy) {
    // The image reply comes later than the transfer timeout, which is
    // shortened from its 30 s (and kept apart from the session's 150 ms), so
    // the image read must fail by the transfer timeout, not the session's.
    SimDriver sim("rigol", Lan::Socket, {"--delay-ms", "20000", "--fault-on", ":DISPlay:DATA?"});
    ASSERT_TRUE(sim.Ready());
    ASSERT_TRUE(sim.SetSessionTimeout(150));
    sim.Driver().SetTransferTimeout(600);
    ByteBuffer out;
    const auto start = Clock::now();
    EXPECT_FALSE(sim.Driver().GetScreenshot(out));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(600));
    EXPECT_LT(waited, std::chrono::seconds(15));
    EXPECT_TRUE(out.empty());
    // The raised timeout goes back on the failure path too.
    EXPECT_EQ(sim.SessionTimeout(), 150u);
    // The reason the status line and quarvel-cli put in words; the wait it
    // gives is the transfer's.
    const quarvel::instr::Failure& failure = sim.Driver().LastFailure();
    EXPECT_EQ(failure.kind, quarvel::instr::FailureKind::Timeout);
    EXPECT_EQ(failure.command, ":DISP:DATA?");
    EXPECT_EQ(failure.step, "waiting for the screen image");
    EXPECT_GE(failure.waitedMs, 600u);
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

// ---- The end of a raw PNG or BMP reply -----------------------------------
bool Unfinished(const std::string& bytes) {
    return IsUnfinishedPng(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(PngExtent, OnlyAPngCutShortIsUnfinished) {
    const std::string png = SamplePng();
    for (std::size_t n = 1; n < png.size(); ++n)
        EXPECT_TRUE(Unfinished(png.substr(0, n))) << n;
    // Bytes after IEND (a trailing line feed) do not make it unfinished.
    EXPECT_FALSE(Unfinished(png));
    EXPECT_FALSE(Unfinished(png + "\n"));
    // Other replies are taken as they came.
    for (const char* other : {"", "BM6\x94\x11", "#9001152054", "\x89PNX"})
        EXPECT_FALSE(Unfinished(other)) << other;
    // A damaged chunk length (about 2 GB, or beyond 32-bit signed) looks
    // unfinished, without overflow.
    for (const char* length : {"\x7f\0\0\x0d", "\xff\xff\xff\xff"}) {
        std::string damaged = png;
        damaged.replace(8, 4, length, 4);
        EXPECT_TRUE(Unfinished(damaged));
    }
}

TEST(BmpExtent, TheFileHeaderGivesTheLengthOnlyWhenPlausible) {
    using quarvel::instr::BmpFileLength;
    // 800 x 480 x 24 bits, as Siglent and Rigol oscilloscopes send it.
    const std::vector<std::uint8_t> sds = {'B', 'M', 0x36, 0x94, 0x11, 0, 0, 0, 0, 0, 54, 0, 0, 0};
    EXPECT_EQ(BmpFileLength(sds.data(), sds.size()), 1152054u);
    EXPECT_EQ(BmpFileLength(sds.data(), sds.size() - 1), 0u) << "header incomplete";

    const auto with = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = sds;
        bytes[at] = value;
        return BmpFileLength(bytes.data(), bytes.size());
    };
    EXPECT_EQ(with(0, '#'), 0u);
    EXPECT_EQ(with(1, 'A'), 0u);
    EXPECT_EQ(with(10, 25), 0u) << "pixels inside the headers";
    EXPECT_EQ(with(12, 0x20), 0u) << "pixels beyond the file";
    std::vector<std::uint8_t> tiny = {'B', 'M', 25, 0, 0, 0, 0, 0, 0, 0, 25, 0, 0, 0};
    EXPECT_EQ(BmpFileLength(tiny.data(), tiny.size()), 0u) << "smaller than its headers";
    tiny[2] = 26;
    tiny[10] = 26;
    EXPECT_EQ(BmpFileLength(tiny.data(), tiny.size()), 26u);
    std::vector<std::uint8_t> huge = sds;
    huge[2] = huge[3] = huge[4] = huge[5] = 0xFF;
    EXPECT_EQ(BmpFileLength(huge.data(), huge.size()), 0xFFFFFFFFu)
        << "the caller bounds the length by its buffer";
}

} // namespace
} // namespace quarvel::test
