// Every simulated family captured over HiSLIP through the capture controller:
// the picture saved is the one the instrument serves (fetched for reference
// over the raw socket), and the families that hand out waveform data write it
// beside the picture.
#include "tests/capture/sim_bench.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quarvel::test {
namespace {

struct FamilyCase {
    const char* instrument;
    const char* channel; // nullptr: the family has no waveform data
    std::size_t points;  // samples of that channel
};

class HislipCapture : public ::testing::TestWithParam<FamilyCase> {};

INSTANTIATE_TEST_SUITE_P(Families, HislipCapture,
                         ::testing::Values(FamilyCase{"infiniivision", nullptr, 0},
                                           FamilyCase{"infiniivision-x", "CHAN1", 62500},
                                           FamilyCase{"infiniium", nullptr, 0},
                                           FamilyCase{"fsv", "TRACE1", 691},
                                           FamilyCase{"rigol", nullptr, 0},
                                           FamilyCase{"siglent", nullptr, 0},
                                           FamilyCase{"tektronix", nullptr, 0}),
                         [](const auto& info) {
                             std::string name = info.param.instrument;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_P(HislipCapture, PictureAndWaveformDataArriveWhole) {
    SimBench bench({"--instrument", GetParam().instrument});
    ASSERT_TRUE(bench.sim.Started()) << bench.sim.Output();
    auto& form = bench.window.form;
    form.visaAddress = bench.sim.HislipResource();
    ASSERT_TRUE(bench.Connect()) << bench.window.LastStatus();
    if (GetParam().channel != nullptr) {
        form.retrieveWaveforms = true;
        form.dataFormat = DataFormat::Csv;
        form.tickedChannels = {GetParam().channel};
    }
    bench.controller.StartOrAbortCapture();
    EXPECT_TRUE(bench.controller.LastCaptureSucceeded()) << bench.window.LastStatus();

    const QImage saved = ReadPicture(bench.dir.File("Screenshot.png"));
    ASSERT_FALSE(saved.isNull());
    EXPECT_TRUE(SimilarPictures(saved, bench.ReferencePicture(saved.size())));
    if (GetParam().channel == nullptr) {
        EXPECT_EQ(FileNamesIn(bench.dir.Path()), std::vector<std::string>{"Screenshot.png"});
        return;
    }
    const std::string csv = ReadFileText(bench.dir.File("Screenshot.csv"));
    EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')),
              GetParam().points + 1);
    EXPECT_NE(csv.substr(0, csv.find('\n')).find(GetParam().channel), std::string::npos);
}

} // namespace
} // namespace quarvel::test
