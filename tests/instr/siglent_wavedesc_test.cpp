// The Siglent HD descriptor parser refuses every descriptor it could not
// scale data with, saying why (what it accepts is checked end to end by
// tests/cli/cli_waveforms_siglent_hd_test.cpp).

#include "instr/siglent_wavedesc.h"
#include "wavedata/waveform_preamble.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace quarvel::wavedata {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename T> void Put(Bytes& d, std::size_t at, T value) {
    std::memcpy(d.data() + at, &value, sizeof value); // little-endian test hosts only
}

// A 12-bit WORD descriptor as the SDS2000X HD example reads it.
Bytes Valid() {
    Bytes d(346, 0);
    std::memcpy(d.data(), "WAVEDESC", 8);
    Put<std::int16_t>(d, 32, 1);
    Put<std::int32_t>(d, 36, 346);
    Put<std::int32_t>(d, 116, 1000);
    Put<float>(d, 156, 0.1F);
    Put<float>(d, 160, -0.05F);
    Put<float>(d, 164, 7680.0F);
    Put<std::int16_t>(d, 172, 12);
    Put<float>(d, 176, 1e-9F);
    Put<double>(d, 180, 2e-6);
    Put<float>(d, 328, 10.0F);
    return d;
}

TEST(SiglentWaveDesc, RefusesWhatCannotScaleData) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* what;
        std::function<void(Bytes&)> spoil;
        const char* reason;
    } cases[] = {
        {"short", [](Bytes& d) { d.resize(345); }, "has 345 bytes, not 346"},
        {"unnamed", [](Bytes& d) { d[7] = 'X'; }, "no WAVEDESC name"},
        {"length field", [](Bytes& d) { Put<std::int32_t>(d, 36, 400); }, "length as 400"},
        {"sample type", [](Bytes& d) { Put<std::int16_t>(d, 32, 2); }, "sample type 2"},
        {"no points", [](Bytes& d) { Put<std::int32_t>(d, 116, 0); }, "announces 0 points"},
        {"too many points", [](Bytes& d) { Put<std::int32_t>(d, 116, MAX_WAVEFORM_POINTS + 1); },
         "outside 1 to"},
        {"negative points", [](Bytes& d) { Put<std::int32_t>(d, 116, -5); }, "announces -5"},
        {"ADC bits", [](Bytes& d) { Put<std::int16_t>(d, 172, 4); }, "gives 4 ADC bits"},
        {"scale NaN", [nan](Bytes& d) { Put<float>(d, 156, nan); }, "no usable scale"},
        {"probe", [](Bytes& d) { Put<float>(d, 328, 0.0F); }, "no usable scale"},
        {"delay", [](Bytes& d) { Put<double>(d, 180, INFINITY); }, "no usable scale"},
    };
    for (const auto& c : cases) {
        Bytes d = Valid();
        c.spoil(d);
        SiglentWaveDesc out;
        std::string why;
        EXPECT_FALSE(ParseSiglentWaveDesc(d, out, why)) << c.what;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
    }
}

} // namespace
} // namespace quarvel::wavedata
