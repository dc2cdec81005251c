#pragma once

// Simulated Rigol oscilloscopes of the current series: MSO5000/7000/8000
// (rigol-mso5000) and DHO800/900/1000/4000 (rigol-dho). The model in the
// identification picks the variant: an MSO8000 also answers
// :SAVE:IMAGe:DATA?, a DHO answers :DISPlay:DATA? in the format asked.
//
// Run state as :TRIGger:STATus? reports it: a trigger shows as TD for one
// reading only, then the scope re-arms (WAIT, or RUN while it fills its
// pre-trigger memory; AUTO with the AUTO sweep while nothing triggers); a
// single acquisition reads WAIT, then TD, then STOP for good. The
// simulated signal always triggers, so the sequence is the same every time.

#include "sim/family_support.h"
#include "sim/habits.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <atomic>
#include <memory>
#include <span>
#include <string>

namespace quarvel::sim {

struct RigolMsoState {
    std::string model;
    RunState run = RunState::Run;
    std::string sweep = "AUTO"; // :TRIGger:SWEep AUTO|NORMal|SINGle
    int statusReads = 0;        // :TRIGger:STATus? readings since the last run change
};

class RigolMsoSim : public SimInstrument {
public:
    enum class Series { Mso5000, Dho };
    RigolMsoSim(const InstrumentSetup& setup, Series series);
    RigolMsoState& State() { return m_state; }
    ResponseMessage Execute(std::string_view programMessage) override;

protected:
    void ResetFamilyState() override;

private:
    // The :WAVeform subsystem (sim/waveform_rigol.h) with this series' habits.
    void AddWaveforms(const InstrumentSetup& setup);
    // A trigger or a stop: the memory reads empty until *OPC? or *WAI (MSO5000 habit).
    void Unsettle();
    const char* NextTriggerStatus();
    std::string Picture(bool png);

    Series m_series;
    int m_blockTail;
    bool m_pngAsBmp;
    bool m_tdPersists;
    int m_width = 1024;
    int m_height = 600;
    bool m_emptyDataAfterTrigger = false;
    std::shared_ptr<std::atomic<bool>> m_memorySettled = std::make_shared<std::atomic<bool>>(true);
    RigolMsoState m_state;
    ImageCache m_images;
};

std::span<const HabitInfo> RigolMso5000Habits();
std::span<const HabitInfo> RigolDhoHabits();
std::unique_ptr<SimInstrument> CreateRigolMso5000(const InstrumentSetup& setup);
std::unique_ptr<SimInstrument> CreateRigolDho(const InstrumentSetup& setup);

} // namespace quarvel::sim
