// What real instruments' firmware sends beyond what the drivers would expect
// (see the quirk table): each habit, served by quarvel-sim, over the raw
// socket and VXI-11, through the driver and the capture controller (which
// quarvel-cli capture drives as well). The image arrives byte for byte, nothing of one reply
// leaks into the next, and Stop/Run gives back the mode the instrument had.

#include "capture/capture_controller.h"
#include "capture/image_codec.h"
#include "tests/capture/fake_capture_window.h"
#include "tests/capture/sim_bench.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <sstream>
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
    // A capture that stops the instrument: the commands up to the image
    // query, then the restart (none when the family cannot stop).
    Lines capture;
    bool olderIdn = false; // older firmware's identification, with its header
};

const char* kOlderSiglentIdn = "SIGLENT,SDS2304X,SDS2XJBD1R2754,1.2.2.2 R19";
const Lines kSiglentNorm = {"TRMD?", "TRMD STOP", "*OPC?", "SCDP", "TRMD NORM"};
const Lines kSiglentAuto = {"TRMD?", "TRMD STOP", "*OPC?", "SCDP", "TRMD AUTO"};
const Lines kRigol = {":STOP", "*OPC?", ":DISP:DATA?", ":RUN"};
const Lines kTektronix = {"HARDCOPY:INKSAVER OFF", "HARDCOPY START"};
// The families of today's benches (built-in definitions): the state query,
// the stop and its wait, the image steps and query, the restart.
const Lines kRigolMso = {":TRIG:STAT?", ":STOP", "*OPC?", ":DISP:DATA?", ":RUN"};
const Lines kRigolDho = {":TRIG:STAT?", ":STOP", "*OPC?", ":DISP:DATA? PNG", ":RUN"};
const Lines kSiglentHd = {":TRIG:STAT?", ":TRIG:STOP", "*OPC?", ":PRIN? PNG", ":TRIG:RUN"};
const Lines kTekRestart = {"ACQuire:STOPAfter RUNSTop", "ACQuire:STATE RUN"};
const Lines kTekMdo = {"ACQuire:STATE?",
                       "ACQuire:STATE STOP",
                       "*OPC?",
                       "SAVe:IMAGe:INKSaver OFF",
                       "SAVe:IMAGe:FILEFormat PNG",
                       "HARDCopy STARt",
                       kTekRestart[0],
                       kTekRestart[1]};
const Lines kTekTbs = {"ACQuire:STATE?",      "ACQuire:STATE STOP", "*OPC?",
                       "HARDCopy:FORMat BMP", "HARDCopy:PORT USB",  "HARDCopy STARt",
                       kTekRestart[0],        kTekRestart[1]};
const Lines kRsRtb = {"ACQuire:STATe?",   "STOP",        "*OPC?", "SYSTem:DISPlay:UPDate ON",
                      "HCOPy:FORMat PNG", "HCOPy:DATA?", "RUN"};

const Habit kHabits[] = {
    {"SiglentReplyHeaders", "siglent", "--siglent-reply-headers", "TRMD NORM", kSiglentNorm},
    {"SiglentOlderFirmware", "siglent", "--siglent-reply-headers --siglent-idn-header", "TRMD NORM",
     kSiglentNorm, true},
    {"SiglentRawBmp", "siglent", "--siglent-raw-scdp --siglent-reply-headers", "TRMD AUTO",
     kSiglentAuto},
    {"SiglentRawBmpAndTerminator", "siglent", "--siglent-raw-scdp --siglent-scdp-terminator",
     "TRMD NORM", kSiglentNorm},
    {"RigolNothingAfterTheBlock", "rigol", "--rigol-block-tail 0", ":RUN", kRigol},
    {"RigolNulsBeforeTheLineFeed", "rigol", "--rigol-block-tail 3", ":RUN", kRigol},
    {"TektronixHeaders", "tektronix", "--tektronix-headers", "HEADER ON", kTektronix},
    {"RigolMsoNothingAfterTheBlock", "rigol-mso5000", "--habit block-tail=0", ":RUN", kRigolMso},
    {"RigolMsoNulsBeforeTheLineFeed", "rigol-mso5000", "--habit block-tail=3", ":RUN", kRigolMso},
    {"RigolMsoTriggeredStays", "rigol-mso5000", "--habit td-persists=on", ":RUN", kRigolMso},
    {"RigolMsoPngAsked", "rigol-mso5000", "--habit png-as-bmp=off", ":RUN", kRigolMso},
    {"RigolDhoNothingAfterTheBlock", "rigol-dho", "--habit block-tail=0", ":RUN", kRigolDho},
    {"RigolDhoTriggeredStays", "rigol-dho", "--habit td-persists=on", ":RUN", kRigolDho},
    {"SiglentHdLineFeedAfterThePng", "siglent-hd", "--habit file-tail=1", ":TRIG:MODE NORMal",
     kSiglentHd},
    {"SiglentHdNothingAfterThePng", "siglent-hd", "--habit file-tail=0", ":TRIG:RUN", kSiglentHd},
    {"TekMdoLineFeedAfterTheFile", "tek-mdo", "--habit raw-end=lf", "ACQuire:STATE RUN", kTekMdo},
    {"TekMdoNothingAfterTheFile", "tek-mdo", "--habit raw-end=none", "ACQuire:STATE RUN", kTekMdo},
    {"TekTbsSlowHardcopy", "tek-tbs", "--habit hardcopy-delay-ms=1500", "ACQuire:STATE RUN",
     kTekTbs},
    {"RsRtbDisplayFrozenAtPowerOn", "rs-rtb", "--habit display-update=off", "RUN", kRsRtb},
};

using HabitCase = std::tuple<Habit, Lan>;

class InstrumentHabit : public ::testing::TestWithParam<HabitCase> {
protected:
    const Habit& habit() const { return std::get<0>(GetParam()); }
    Lan lan() const { return std::get<1>(GetParam()); }

    std::vector<std::string> SimArgs() const {
        std::vector<std::string> args = {"--instrument", habit().instrument, "--dump-images",
                                         m_dumps.Path()};
        std::istringstream quirks(habit().quirks);
        for (std::string quirk; quirks >> quirk;)
            args.push_back(quirk);
        if (habit().olderIdn)
            args.insert(args.end(), {"--idn", kOlderSiglentIdn});
        return args;
    }
    std::string Address() const {
        return lan() == Lan::Socket ? m_sim.SocketResource() : m_sim.Vxi11Resource();
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
    // What the simulator received last, once an "*OPC?" round trip over
    // `session` has made sure it has handled everything sent before.
    Lines ReceivedLast(ViSession session, std::size_t count) const {
        char reply[256] = {};
        viQueryf(session, "*OPC?\n", "%t", reply);
        Lines lines = m_sim.Transcript();
        if (!lines.empty() && lines.back() == "*OPC?")
            lines.pop_back();
        count = std::min(count, lines.size());
        return Lines(lines.end() - static_cast<std::ptrdiff_t>(count), lines.end());
    }
    TempDir m_dumps; // before m_sim: the simulator writes into it
    SimProcess m_sim{SimArgs()};
};

TEST_P(InstrumentHabit, CapturesTheServedImageAndRestoresTheMode) {
    ASSERT_TRUE(m_sim.Started()) << m_sim.Output();

    // The driver: the served file byte for byte, and the next reply clean.
    {
        CInstrConnection connection;
        ASSERT_TRUE(ConnectToSim(connection, m_sim, lan())) << connection.GetIdn();
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
    {
        FakeCaptureWindow window;
        CCaptureController controller{window};
        TempDir shots;
        window.form.visaAddress = Address();
        window.form.imageDir = shots.Path();
        window.form.stopWhileCapturing = true;
        viSetAttribute(controller.Connection().GetResourceManager(), QVI_ATTR_PORTMAPPER_PORT,
                       static_cast<ViAttrState>(m_sim.PortmapperPort()));
        controller.ToggleConnection();
        ASSERT_TRUE(controller.HasDriver()) << window.LastStatus();
        controller.CaptureNow();
        ASSERT_TRUE(controller.LastCaptureSucceeded()) << window.LastStatus();
        EXPECT_EQ(controller.Picture().convertToFormat(QImage::Format_RGB32), LastServedPicture());
        EXPECT_EQ(ReadPicture(controller.LastImagePath()).convertToFormat(QImage::Format_RGB32),
                  LastServedPicture());
        EXPECT_EQ(ReceivedLast(controller.Connection().GetSession(), habit().capture.size()),
                  habit().capture);
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
