#pragma once

// Simulated Tektronix TDS3000 oscilloscope: HARDCOPY START sends the image
// file itself, without a block header or terminator.

#include "sim/family_support.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <string>

namespace quarvel::sim {

struct TektronixState {
    std::string model;
    // Settings as long forms in upper case.
    std::string format = "BMP";
    std::string layout = "PORTRAIT";
    std::string port = "GPIB";
    std::string palette = "NORMAL";
    bool inkSaver = true;
    // HEADer ON: replies are valid set commands (":ACQUIRE:STATE 1").
    bool headers = false;
    bool acquiring = true; // ACQuire:STATE
};

class TektronixSim : public SimInstrument {
public:
    explicit TektronixSim(const InstrumentSetup& setup);
    TektronixState& State() { return m_state; }

    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;

protected:
    void ResetFamilyState() override;
    std::string ReplyHeader(const HeaderForms& forms) const override;

private:
    TektronixState m_state;
    ImageCache m_images;
};

std::unique_ptr<SimInstrument> CreateTektronix(const InstrumentSetup& setup);

// The header a Tektronix reply carries with HEADer ON: the query's long form
// as a set command (":ACQUIRE:STATE"), its short form with VERBose OFF
// (":ACQ:STATE"); none for common commands (*IDN?, *OPC?).
std::string TektronixReplyHeader(bool headers, const HeaderForms& forms, bool verbose = true);

} // namespace quarvel::sim
