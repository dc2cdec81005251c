// Every simulated family captured through the capture controller over HiSLIP
// and over USB (USBTMC on the simulator's USB/IP server, named by
// QUARVEL_USBIP as the window's users do): the picture saved is the one the
// instrument serves (fetched for reference over the raw socket). Large
// waveform blocks over these links are the VISA tests'; the data files are
// the other capture tests'.
#include "tests/capture/sim_bench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace quarvel::test {
namespace {

enum class Link { Hislip, Usb };

class RemoteLinkCapture : public ::testing::TestWithParam<std::tuple<const char*, Link>> {
protected:
    void TearDown() override { unsetenv("QUARVEL_USBIP"); }
};

INSTANTIATE_TEST_SUITE_P(Families, RemoteLinkCapture,
                         ::testing::Combine(::testing::Values("infiniivision", "infiniivision-x",
                                                              "infiniium", "fsv", "rigol",
                                                              "siglent", "tektronix"),
                                            ::testing::Values(Link::Hislip, Link::Usb)),
                         [](const auto& info) {
                             std::string name = std::get<0>(info.param);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name +
                                    (std::get<1>(info.param) == Link::Usb ? "_Usb" : "_Hislip");
                         });

TEST_P(RemoteLinkCapture, TheSavedPictureIsTheServedOne) {
    const auto& [family, link] = GetParam();
    SimBench bench({"--instrument", family});
    ASSERT_TRUE(bench.sim.Started()) << bench.sim.Output();
    if (link == Link::Usb) {
        setenv("QUARVEL_USBIP", bench.sim.UsbipServer().c_str(), 1);
        bench.window.form.visaAddress = bench.sim.UsbResource();
    } else {
        bench.window.form.visaAddress = bench.sim.HislipResource();
    }
    ASSERT_TRUE(bench.Connect()) << bench.window.LastStatus();
    bench.controller.StartOrAbortCapture();
    EXPECT_TRUE(bench.controller.LastCaptureSucceeded()) << bench.window.LastStatus();

    const QImage saved = ReadPicture(bench.dir.File("Screenshot.png"));
    ASSERT_FALSE(saved.isNull());
    EXPECT_TRUE(SimilarPictures(saved, bench.ReferencePicture(saved.size())));
    EXPECT_EQ(FileNamesIn(bench.dir.Path()), std::vector<std::string>{"Screenshot.png"});
}

} // namespace
} // namespace quarvel::test
