// The oscilloscope drivers' channels from the model's name (their images and
// run control over every link: driver_families_test.cpp).

#include "instr/instr_keys_infiniium.h"
#include "instr/instr_keys_infiniivision.h"
#include "instr/instr_rigol_ds.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quarvel::test {
namespace {

// The data channels each family offers, from the model's name: two-channel
// models end their number in 2. InfiniiVision pods need "MSO" at the very
// start, in upper case; there a trailing digit is no two-channel mark.
TEST(ScopeDrivers, OfferTheChannelsOfTheModel) {
    struct Case {
        std::function<std::unique_ptr<CInstrLL>()> make;
        const char* model;
        ChannelList channels;
    };
    const auto rigol = [] { return std::make_unique<CInstrRigolDS>(); };
    const auto siglent = [] { return std::make_unique<CInstrSiglSDS>(); };
    const auto tek = [] { return std::make_unique<CInstrTekTDS>(); };
    const auto vision = [] { return std::make_unique<CInstrKeysInfiniiVision>(); };
    const auto infiniium = [] { return std::make_unique<CInstrKeysInfiniium>(); };
    const Case cases[] = {
        {vision, "DSO-X 2002A", {"CHAN1", "CHAN2"}},
        {vision, "MSO-X 3024A", {"CHAN1", "CHAN2", "CHAN3", "CHAN4", "POD1", "POD2"}},
        {vision, "MSO7012G", {"CHAN1", "CHAN2", "POD1", "POD2"}},
        {vision, "mso-x 3024A", {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
        {vision, "DSO7032", {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
        {vision, "", {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
        {rigol, "DS1054Z", {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
        {rigol, "MSO1104Z-S", {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
        {rigol, "DS1202Z-E", {"CHAN1", "CHAN2"}},
        {rigol, "DS2102A", {"CHAN1", "CHAN2"}},
        {siglent, "SDS1104X-E", {"C1", "C2", "C3", "C4"}},
        {siglent, "SDS1202X-E", {"C1", "C2"}},
        {tek, "TDS 3034B", {"CH1", "CH2", "CH3", "CH4"}},
        {tek, "TDS 3012B", {"CH1", "CH2"}},
        {infiniium, "DSO9254A", {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<CInstrLL> driver = c.make();
        driver->SetModel(c.model);
        ChannelList channels{"stale"};
        driver->GetChannelList(channels);
        EXPECT_EQ(channels, c.channels) << c.model;
        // The list is made once, for the model the driver first had.
        driver->SetModel("MSO-X 3024A");
        driver->GetChannelList(channels);
        EXPECT_EQ(channels, c.channels) << c.model;
    }
}

} // namespace
} // namespace quarvel::test
