#pragma once

// Simulated Keysight InfiniiVision oscilloscopes: the 5000/6000/7000 series
// ("infiniivision") and the X series ("infiniivision-x"). Other sources add
// commands through Commands() and observe or change State().

#include "sim/family_support.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <string>

namespace quarvel::sim {

struct InfiniiVisionState {
    bool xSeries = true;
    std::string model;
    RunState run = RunState::Run;
    bool inkSaver = false;
    // Analog channels the model has (2 or 4).
    int channels = 4;
};

class InfiniiVisionSim : public SimInstrument {
public:
    InfiniiVisionSim(const InstrumentSetup& setup, bool xSeries);
    InfiniiVisionState& State() { return m_state; }

    // Bit 3 of the Operation Status Condition register: the scope is running.
    static constexpr int kOperRunBit = 8;

protected:
    void ResetFamilyState() override;

private:
    void AddRunControl();
    void AddScreenImage();

    InfiniiVisionState m_state;
    ImageCache m_images;
};

std::unique_ptr<SimInstrument> CreateInfiniiVision(const InstrumentSetup& setup);
std::unique_ptr<SimInstrument> CreateInfiniiVisionX(const InstrumentSetup& setup);

} // namespace quarvel::sim
