// The personas of today's instruments as a client meets them over a real
// socket: one persona of each framing (block header, PNG chunks, BMP header),
// read by a reader of its own and compared with the image the simulator
// served, nothing left over after the tail the firmware sends (every family
// and model over every link goes through the drivers in
// tests/instr/driver_families_test.cpp, which also finds no file left on the
// instrument's disk, whatever became of the read); the run-state answers
// through Stop, Run and Single; the USB IDs a model reports.

#include "tests/sim/sim_test_client.h"
#include "tests/support/sim_session.h"
#include "tests/support/temp_dir.h"

#include <QImage>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quarvel::test {
namespace {

using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

std::uint32_t Uint32(const std::string& b, std::size_t at, bool bigEndian) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i]))
                 << 8 * (bigEndian ? 3 - i : i);
    return value;
}

enum class Framing { Block, RawPng, RawBmp };

// Reads one image as its framing delimits it; empty when the bytes do not
// follow the framing.
std::string ReadImage(RawClient& c, Framing framing, std::string* blockHeader = nullptr) {
    if (framing == Framing::Block) {
        std::string header = c.Read(2);
        if (header.size() != 2 || header[0] != '#' || header[1] < '1' || header[1] > '9')
            return {};
        header += c.Read(static_cast<std::size_t>(header[1] - '0'));
        if (blockHeader != nullptr)
            *blockHeader = header;
        return c.Read(std::stoul(header.substr(2)));
    }
    if (framing == Framing::RawBmp) {
        std::string bmp = c.Read(6);
        return bmp.size() == 6 && bmp.starts_with("BM") ? bmp + c.Read(Uint32(bmp, 2, false) - 6)
                                                        : std::string();
    }
    // A PNG: the signature, then chunks (length, type, data, CRC) to IEND.
    std::string png = c.Read(8);
    if (png != "\x89PNG\r\n\x1a\n")
        return {};
    for (;;) {
        const std::string head = c.Read(8);
        if (head.size() != 8)
            return {};
        png += head + c.Read(Uint32(head, 0, true) + 4);
        if (head.substr(4) == "IEND")
            return png;
    }
}

struct ImageCase {
    const char* name;
    const char* args;  // quarvel-sim's command line
    const char* setup; // sent (and completed) before the query
    const char* query;
    Framing framing;
    std::string tail; // what the firmware sends after the image
    int width;
    int height;
    std::string blockHeader = {}; // when the header itself is pinned
};

TEST(Personas, ScreenImagesAreFramedAsTheFirmwareFramesThem) {
    const auto raw = Framing::RawPng;
    const auto block = Framing::Block;
    const std::vector<ImageCase> cases = {
        // The MSO5000 answers its 1024x600 true-colour BMP even when PNG is asked.
        {"mso5000", "--instrument rigol-mso5000", "", ":DISP:DATA? ON,OFF,PNG", block, "\n", 1024,
         600, "#9001843254"},
        {"dho4000 tail 0",
         "--instrument rigol-dho --idn \"RIGOL TECHNOLOGIES,DHO4204,X,1\" --habit block-tail=0", "",
         ":DISP:DATA? PNG", block, "", 1280, 800},
        {"siglent print", "--instrument siglent-hd", "", ":PRINt? PNG", raw, "\n", 1024, 600},
        {"siglent scdp no tail", "--instrument siglent-hd --habit file-tail=0", "", "SCDP",
         Framing::RawBmp, "", 1024, 600},
        {"tek mso", "--instrument tek-mso", "SAVE:IMAGe \"C:/Temp/q.png\"",
         "FILESystem:READFile \"C:/Temp/q.png\"", raw, "", 1920, 1080},
        // A made-up instrument: raw PNG, ended on a socket by the line feed
        // that ends every message there; or a definite block.
        {"generic raw", "--image-query :DISPlay:SHOT? --image-framing raw", "", ":DISP:SHOT?", raw,
         "\n", 800, 480},
    };
    for (const ImageCase& t : cases) {
        SCOPED_TRACE(t.name);
        TempDir dumps;
        Strings args = Words(t.args);
        args.insert(args.end(), {"--dump-images", dumps.Path()});
        SimProcess sim(args);
        ASSERT_TRUE(sim.Started()) << sim.Output();
        RawClient c(sim.SocketPort());
        ASSERT_TRUE(c.Send(std::string(t.setup) + (*t.setup ? ";" : "") + "*OPC?\n"));
        ASSERT_EQ(c.ReadLine(), "1\n");
        ASSERT_TRUE(c.Send(std::string(t.query) + "\n"));
        std::string header;
        const std::string image = ReadImage(c, t.framing, &header);
        EXPECT_EQ(c.Read(t.tail.size()), t.tail);
        EXPECT_EQ(c.ReadFor(150), "") << "bytes after the image and its tail";
        if (!t.blockHeader.empty()) {
            EXPECT_EQ(header, t.blockHeader);
        }
        const std::vector<std::vector<std::uint8_t>> served = ReadDirFiles(dumps.Path());
        ASSERT_EQ(served.size(), 1u);
        EXPECT_TRUE(image == std::string(served[0].begin(), served[0].end()));
        const QImage decoded = QImage::fromData(image);
        EXPECT_EQ(decoded.size(), QSize(t.width, t.height));
        // The connection goes on: no stray byte was taken for the next reply.
        ASSERT_TRUE(c.Send(":SYSTem:ERRor?\n"));
        EXPECT_EQ(c.ReadLine(), "+0,\"No error\"\n");
    }
}

// The answers the drivers' Stop/Run/Single do not tell apart (they go
// through every persona in tests/instr/driver_families_test.cpp): Rigol's TD
// once per trigger, Siglent's Roll, Tektronix's headers, the MXO's missing
// SINGle. Each step sends a message and expects its reply, from one simulator
// for the steps of one command line in a row.
TEST(Personas, RunStateAnswersFollowStopRunAndSingle) {
    const char* const rigol = "--instrument rigol-mso5000"; // auto sweep: TD once per trigger
    const char* const mxo = "--instrument rs-rtb --idn Rohde&Schwarz,MXO58,1,1";
    const struct {
        const char* args;
        const char* message;
        const char* reply;
    } steps[] = {
        {rigol, ":TRIG:STAT?", "AUTO"},
        {rigol, ":TRIG:STAT?", "TD"},
        {rigol, ":TRIG:STAT?", "AUTO"},
        {rigol, ":TRIGger:SWEep NORMal;:TRIG:STAT?", "RUN"},
        {rigol, ":TRIG:STAT?", "TD"},
        {rigol, ":TRIG:STAT?", "WAIT"},
        {"--instrument siglent-hd", ":ACQ:MODE ROLL;:TRIG:MODE AUTO;:TRIG:STAT?", "Roll"},
        {"--instrument tek-mso", "HEADER ON;:ACQ:STATE?", ":ACQUIRE:STATE 1"},
        {mxo, "RUNSingle;:ACQ:STAT?", "RUN"}, // RUNSingle, no SINGle
        {mxo, "ACQ:STAT?", "COMP"},
        {mxo, "SING;:SYST:ERR?", "-113,\"Undefined header\""},
    };
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<RawClient> c;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const auto& [args, message, reply] = steps[i];
        if (i == 0 || std::string(args) != steps[i - 1].args) {
            c.reset();
            sim = std::make_unique<SimProcess>(Words(args));
            ASSERT_TRUE(sim->Started()) << sim->Output();
            c = std::make_unique<RawClient>(sim->SocketPort());
        }
        ASSERT_TRUE(c->Send(std::string(message) + "\n"));
        EXPECT_EQ(c->ReadLine(), std::string(reply) + "\n") << args << ": " << message;
    }
}

TEST(Personas, TbsHardcopyStartsOnlyAfterTheInstrumentHasRenderedIt) {
    SimProcess sim({"--instrument", "tek-tbs", "--habit", "hardcopy-delay-ms=600"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    RawClient c(sim.SocketPort());
    const auto start = Clock::now();
    ASSERT_TRUE(c.Send("HARDCOPY START\n"));
    EXPECT_EQ(c.ReadFor(300), "") << "a byte before the delay";
    const std::string image = ReadImage(c, Framing::RawBmp);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(600));
    EXPECT_EQ(QImage::fromData(image).size(), QSize(320, 240));
}

TEST(Personas, RsDisplayStaysFrozenUnderRemoteUntilUpdatesAreOn) {
    const auto picture = [](const Strings& args, const std::string& before) {
        SimProcess sim(args);
        RawClient c(sim.SocketPort());
        c.Send(before + "HCOP:DATA?\n");
        return ReadImage(c, Framing::Block);
    };
    const std::string frozen = picture({"--instrument", "rs-rtb"}, "");
    const std::string live = picture({"--instrument", "rs-rtb"}, "SYST:DISP:UPD ON;:");
    ASSERT_FALSE(frozen.empty());
    EXPECT_TRUE(frozen != live);
    EXPECT_TRUE(picture({"--instrument", "rs-rtb", "--habit", "display-update=on"}, "") == live);
}

TEST(Personas, UsbIdsFollowTheModel) {
    for (const auto& [args, ids] : std::vector<std::pair<const char*, const char*>>{
             {"--instrument rigol-dho --idn \"RIGOL TECHNOLOGIES,DHO1204,D1,x\"", "0x1AB1::0x0610"},
             {"--instrument infiniivision-x --idn \"AGILENT TECHNOLOGIES,MSO-X 3014A,E1,x\"",
              "0x0957::0x17A8"},
             {"--instrument tek-mso --idn TEKTRONIX,MSO64B,B1,x", "0x0699::0x0530"},
         }) {
        SimProcess sim(Words(args));
        ASSERT_TRUE(sim.Started()) << sim.Output();
        EXPECT_NE(sim.UsbResource().find(ids), std::string::npos) << sim.UsbResource();
    }
}

} // namespace
} // namespace quarvel::test
