#pragma once

// Simulated Rigol DS1000Z oscilloscope.

#include "sim/family_support.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <string>

namespace quarvel::sim {

struct RigolState {
    std::string model;
    RunState run = RunState::Run;
    int blockTail = 1; // quirk: bytes after the image block: 0, 1 (LF) or 3 (00 00 0A)
};

class RigolSim : public SimInstrument {
public:
    explicit RigolSim(const InstrumentSetup& setup);
    RigolState& State() { return m_state; }

    static constexpr int kWidth = 800;
    static constexpr int kHeight = 480;

protected:
    void ResetFamilyState() override { m_state.run = RunState::Run; }

private:
    RigolState m_state;
    ImageCache m_images;
};

std::unique_ptr<SimInstrument> CreateRigol(const InstrumentSetup& setup);

} // namespace quarvel::sim
