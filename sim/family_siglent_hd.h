#pragma once

// Simulated Siglent oscilloscopes of the current series (siglent-hd):
// SDS800X HD, SDS1000X HD, SDS2000X Plus, SDS2000X HD, SDS3000X HD. They
// speak the SCPI tree (:TRIGger:RUN, :TRIGger:STATus?) instead of the older
// two-letter commands, and send screen images as bare files.
//
// Run state as :TRIGger:STATus? reports it: Stop; Auto while running in the
// AUTO mode, Ready and Trig'd in turn in the NORMal mode, Roll in roll mode;
// a single acquisition reads Arm, then Trig'd, then Stop for good (the
// simulated signal always triggers).

#include "sim/family_support.h"
#include "sim/habits.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <span>
#include <string>

namespace quarvel::sim {

struct SiglentHdState {
    std::string model;
    RunState run = RunState::Run;
    std::string mode = "AUTO";      // :TRIGger:MODE AUTO|NORMal|SINGle|FTRIG
    std::string acquireMode = "YT"; // :ACQuire:MODE YT|XY|ROLL
    int statusReads = 0;
};

class SiglentHdSim : public SimInstrument {
public:
    explicit SiglentHdSim(const InstrumentSetup& setup);
    SiglentHdState& State() { return m_state; }

    static constexpr int kWidth = 1024;
    static constexpr int kHeight = 600;

protected:
    void ResetFamilyState() override;

private:
    const char* NextTriggerStatus();
    void SetRun(RunState run);

    bool m_fileTail;
    SiglentHdState m_state;
    ImageCache m_images;
};

std::span<const HabitInfo> SiglentHdHabits();
std::unique_ptr<SimInstrument> CreateSiglentHd(const InstrumentSetup& setup);

} // namespace quarvel::sim
