// Every simulated family captured over HiSLIP through the capture controller:
// the picture saved is the one the instrument serves (fetched for reference
// over the raw socket). Large waveform blocks over HiSLIP are the VISA
// tests'; the data files are the other capture tests'.
#include "tests/capture/sim_bench.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quarvel::test {
namespace {

class HislipCapture : public ::testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Families, HislipCapture,
                         ::testing::Values("infiniivision", "infiniivision-x", "infiniium", "fsv",
                                           "rigol", "siglent", "tektronix"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_P(HislipCapture, TheSavedPictureIsTheServedOne) {
    SimBench bench({"--instrument", GetParam()});
    ASSERT_TRUE(bench.sim.Started()) << bench.sim.Output();
    bench.window.form.visaAddress = bench.sim.HislipResource();
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
