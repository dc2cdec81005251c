#pragma once

// Simulated Keysight Infiniium oscilloscope (DSOS, DSO9000, ... series).

#include "sim/family_support.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <string>

namespace quarvel::sim {

struct InfiniiumState {
    std::string model;
    RunState run = RunState::Run;
};

class InfiniiumSim : public SimInstrument {
public:
    explicit InfiniiumSim(const InstrumentSetup& setup);
    InfiniiumState& State() { return m_state; }

protected:
    void ResetFamilyState() override { m_state.run = RunState::Run; }

private:
    InfiniiumState m_state;
    ImageCache m_images;
};

std::unique_ptr<SimInstrument> CreateInfiniium(const InstrumentSetup& setup);

} // namespace quarvel::sim
