#pragma once

// Simulated Rohde & Schwarz oscilloscopes of today (rs-rtb): RTB2000,
// RTM3000, RTA4000 and, by the model in the identification, MXO 4 / MXO 5.
// HCOPy:DATA? answers the screen as a definite block in the format of
// HCOPy:FORMat (MXO: HCOPy:DEVice:LANGuage). Under remote control the
// display is frozen until SYSTem:DISPlay:UPDate ON, and a hardcopy then
// shows the frozen remote screen without traces.
//
// ACQuire:STATe? answers RUN while acquiring, STOP after STOP, and for a
// single acquisition RUN once, then COMP (the simulated signal always
// triggers).

#include "sim/family_support.h"
#include "sim/habits.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <span>
#include <string>

namespace quarvel::sim {

struct RsRtbState {
    std::string model;
    RunState run = RunState::Run;
    bool singleDone = false;
    int stateReads = 0;
    std::string format = "PNG"; // HCOPy:FORMat / HCOPy:DEVice:LANGuage, long form
    bool displayUpdate = false; // SYSTem:DISPlay:UPDate
};

class RsRtbSim : public SimInstrument {
public:
    explicit RsRtbSim(const InstrumentSetup& setup);
    RsRtbState& State() { return m_state; }

protected:
    void ResetFamilyState() override;

private:
    void SetRun(RunState run);

    bool m_mxo;
    bool m_powerOnDisplayUpdate;
    int m_width = 1280;
    int m_height = 800;
    RsRtbState m_state;
    ImageCache m_images;
};

std::span<const HabitInfo> RsRtbHabits();
std::unique_ptr<SimInstrument> CreateRsRtb(const InstrumentSetup& setup);

} // namespace quarvel::sim
