#pragma once

// Simulated Siglent SDS oscilloscope (SDS1000X-E).

#include "sim/family_support.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <string>

namespace quarvel::sim {

struct SiglentState {
    std::string model;
    std::string triggerMode = "AUTO"; // AUTO, NORM, SINGLE or STOP
    // Command headers on replies (CHDR): OFF, SHORT or LONG.
    std::string replyHeaders = "OFF";
    bool idnHeader = false;      // quirk: older firmware: *IDN? follows CHDR too
    bool rawScdp = false;        // quirk: SCDP sends the BMP without a block header
    bool scdpTerminator = false; // quirk: a line feed after that file
};

class SiglentSim : public SimInstrument {
public:
    explicit SiglentSim(const InstrumentSetup& setup);
    SiglentState& State() { return m_state; }

    static constexpr int kWidth = 800;
    static constexpr int kHeight = 480;

protected:
    void ResetFamilyState() override { m_state.triggerMode = "AUTO"; }
    std::string ReplyHeader(const HeaderForms& forms) const override;

private:
    SiglentState m_state;
    ImageCache m_images;
};

std::unique_ptr<SimInstrument> CreateSiglent(const InstrumentSetup& setup);

} // namespace quarvel::sim
