// What real instruments' firmware sends beyond what the drivers would expect
// (see the quirk table): each habit, served by quarvel-sim, over the raw
// socket and VXI-11, through the driver and the capture controller (which
// quarvel-cli capture drives as well). The image arrives byte for byte, nothing of one reply
// leaks into the next, and Stop/Run gives back the mode the instrument had.

#include "capture/image_codec.h"
#include "tests/capture/sim_bench.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace quarvel::test {
namespace {

struct Habit {
    const char* name;
    const char* instrument;
    const char* quirks; // quarvel-sim options, separated by spaces
    // Sent first: puts the instrument in the mode Stop/Run must give back.
    const char* setMode;
    // The last command of a capture that stopped the instrument: the one that
    // gives its mode back ("": the family cannot stop, nothing is stopped).
    const char* restart;
    bool olderIdn = false; // older firmware's identification, with its header
};

const char* kOlderSiglentIdn = "SIGLENT,SDS2304X,SDS2XJBD1R2754,1.2.2.2 R19";

const Habit kHabits[] = {
    {"SiglentReplyHeaders", "siglent", "--siglent-reply-headers", "TRMD NORM", "TRMD NORM"},
    {"SiglentOlderFirmware", "siglent", "--siglent-reply-headers --siglent-idn-header", "TRMD NORM",
     "TRMD NORM", true},
    {"SiglentRawBmp", "siglent", "--siglent-raw-scdp --siglent-reply-headers", "TRMD AUTO",
     "TRMD AUTO"},
    {"SiglentRawBmpAndTerminator", "siglent", "--siglent-raw-scdp --siglent-scdp-terminator",
     "TRMD NORM", "TRMD NORM"},
    {"RigolNothingAfterTheBlock", "rigol", "--rigol-block-tail 0", ":RUN", ":RUN"},
    {"RigolNulsBeforeTheLineFeed", "rigol", "--rigol-block-tail 3", ":RUN", ":RUN"},
    {"TektronixHeaders", "tektronix", "--tektronix-headers", "HEADER ON", ""},
    {"RigolMsoNothingAfterTheBlock", "rigol-mso5000", "--habit block-tail=0", ":RUN", ":RUN"},
    {"RigolMsoNulsBeforeTheLineFeed", "rigol-mso5000", "--habit block-tail=3", ":RUN", ":RUN"},
    {"RigolMsoTriggeredStays", "rigol-mso5000", "--habit td-persists=on", ":RUN", ":RUN"},
    {"RigolMsoPngAsked", "rigol-mso5000", "--habit png-as-bmp=off", ":RUN", ":RUN"},
    {"RigolDhoNothingAfterTheBlock", "rigol-dho", "--habit block-tail=0", ":RUN", ":RUN"},
    {"RigolDhoTriggeredStays", "rigol-dho", "--habit td-persists=on", ":RUN", ":RUN"},
    {"SiglentHdLineFeedAfterThePng", "siglent-hd", "--habit file-tail=1", ":TRIG:MODE NORMal",
     ":TRIG:RUN"},
    {"SiglentHdNothingAfterThePng", "siglent-hd", "--habit file-tail=0", ":TRIG:RUN", ":TRIG:RUN"},
    {"TekMdoLineFeedAfterTheFile", "tek-mdo", "--habit raw-end=lf", "ACQuire:STATE RUN",
     "ACQuire:STATE RUN"},
    {"TekMdoNothingAfterTheFile", "tek-mdo", "--habit raw-end=none", "ACQuire:STATE RUN",
     "ACQuire:STATE RUN"},
    {"TekTbsSlowHardcopy", "tek-tbs", "--habit hardcopy-delay-ms=1500", "ACQuire:STATE RUN",
     "ACQuire:STATE RUN"},
    {"RsRtbDisplayFrozenAtPowerOn", "rs-rtb", "--habit display-update=off", "RUN", "RUN"},
};

using HabitCase = std::tuple<Habit, Lan>;

class InstrumentHabit : public ::testing::TestWithParam<HabitCase> {
protected:
    const Habit& habit() const { return std::get<0>(GetParam()); }
    Lan lan() const { return std::get<1>(GetParam()); }

    std::vector<std::string> SimArgs() const {
        std::vector<std::string> args = {"--instrument", habit().instrument, "--dump-images",
                                         m_dumps.Path()};
        const std::vector<std::string> quirks = Words(habit().quirks);
        args.insert(args.end(), quirks.begin(), quirks.end());
        if (habit().olderIdn)
            args.insert(args.end(), {"--idn", kOlderSiglentIdn});
        return args;
    }
    std::vector<std::uint8_t> LastServedImage() const {
        const auto images = ReadDirFiles(m_dumps.Path());
        return images.empty() ? std::vector<std::uint8_t>() : images.back();
    }
    QImage LastServedPicture() const {
        const std::vector<std::uint8_t> bytes = LastServedImage();
        QImage image;
        LoadFromMemory(bytes.data(), bytes.size(), image);
        return image.convertToFormat(QImage::Format_RGB32);
    }
    // What the simulator received, once an "*OPC?" round trip over
    // `session` has made sure it has handled everything sent before.
    Lines Received(ViSession session) const {
        char reply[256] = {};
        viQueryf(session, "*OPC?\n", "%t", reply);
        Lines lines = m_bench.sim.Transcript();
        if (!lines.empty() && lines.back() == "*OPC?")
            lines.pop_back();
        return lines;
    }
    TempDir m_dumps; // before the simulator, which writes into it
    SimBench m_bench{SimArgs()};
};

TEST_P(InstrumentHabit, CapturesTheServedImageAndRestoresTheMode) {
    ASSERT_TRUE(m_bench.sim.Started()) << m_bench.sim.Output();

    // The driver: the served file byte for byte, and the next reply clean.
    {
        CInstrConnection connection;
        ASSERT_TRUE(ConnectToSim(connection, m_bench.sim, lan())) << connection.GetIdn();
        if (habit().olderIdn) {
            EXPECT_EQ(connection.GetIdn(), kOlderSiglentIdn);
        }
        ASSERT_EQ(viPrintf(connection.GetSession(), "%s\n", habit().setMode), VI_SUCCESS);
        const std::string idn = connection.GetIdn();
        ByteBuffer image;
        ASSERT_TRUE(connection.GetDriver()->GetScreenshot(image));
        EXPECT_TRUE(image == LastServedImage()) << image.size() << " bytes";
        ASSERT_TRUE(connection.QueryIdn());
        EXPECT_EQ(connection.GetIdn(), idn) << "a reply must not start with the image's tail";
        ASSERT_TRUE(connection.GetDriver()->GetScreenshot(image));
    }

    // The capture controller, stopping and restarting the instrument.
    CCaptureController& controller = m_bench.controller;
    m_bench.window.form.stopWhileCapturing = true;
    ASSERT_TRUE(m_bench.ConnectOver(lan())) << m_bench.window.LastStatus();
    controller.CaptureNow();
    ASSERT_TRUE(controller.LastCaptureSucceeded()) << m_bench.window.LastStatus();
    EXPECT_EQ(controller.Picture().convertToFormat(QImage::Format_RGB32), LastServedPicture());
    EXPECT_EQ(ReadPicture(controller.LastImagePath()).convertToFormat(QImage::Format_RGB32),
              LastServedPicture());
    const Lines received = Received(controller.Connection().GetSession());
    if (*habit().restart != '\0') {
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received.back(), habit().restart);
    } else {
        EXPECT_TRUE(std::none_of(received.begin(), received.end(), [](const std::string& c) {
            return c.find("STOP") != std::string::npos;
        })) << ::testing::PrintToString(received);
    }
}

INSTANTIATE_TEST_SUITE_P(Habits, InstrumentHabit,
                         ::testing::Combine(::testing::ValuesIn(kHabits),
                                            ::testing::Values(Lan::Socket, Lan::Vxi11)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    LanName(std::get<1>(info.param));
                         });

} // namespace
} // namespace quarvel::test
