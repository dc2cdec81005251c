#pragma once

// Simulated Keysight X-series signal analyser (keysight-xsa: N9000A/B CXA,
// N9010A/B EXA, N9020A/B MXA, N9030A/B PXA, ...): :MMEMory:STORe:SCReen
// saves the screen to a file of its disk, :MMEMory:DATA? reads it back as a
// definite block and :MMEMory:DELete removes it. INITiate:CONTinuous and
// INITiate run and single-step the sweep.

#include "sim/family_support.h"
#include "sim/instrument_files.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <string>

namespace quarvel::sim {

struct KeysightXsaState {
    std::string model;
    bool continuous = true;
    InstrumentFiles disk;
};

class KeysightXsaSim : public SimInstrument {
public:
    explicit KeysightXsaSim(const InstrumentSetup& setup);
    KeysightXsaState& State() { return m_state; }

    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 800;

protected:
    void ResetFamilyState() override;

private:
    KeysightXsaState m_state;
    ImageCache m_images;
};

std::unique_ptr<SimInstrument> CreateKeysightXsa(const InstrumentSetup& setup);

} // namespace quarvel::sim
