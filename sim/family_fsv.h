#pragma once

// Simulated Rohde & Schwarz spectrum analysers (FSV; FSW, FPL and FSVA as
// the rs-fsw persona): hardcopies are printed into files of the mass memory
// and read back with :MMEMory:DATA?; INITiate:CONTinuous and INITiate run
// and single-step the sweep.

#include "sim/family_support.h"
#include "sim/instrument_files.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <string>

namespace quarvel::sim {

struct FsvState {
    bool displayUpdate = false;
    std::string fileName;                       // :MMEMory:NAME
    std::string destination = "SYST:COMM:PRIN"; // :HCOPy:DESTination (a printer until set)
    std::string language = "BMP";               // :HCOPy:DEVice:LANGuage, long form
    bool colour = true;                         // :HCOPy:DEVice:COLor
    std::string windowText;                     // :HCOPy:ITEM:WINDow:TEXT
    bool timeStamp = true;                      // :HCOPy:TDSTamp:STATe
    int colourMap = 4;                          // :HCOPy:CMAP:DEFault<n>
    InstrumentFiles massMemory;
    int traces = 1;
    bool continuous = true; // INITiate:CONTinuous
};

class FsvSim : public SimInstrument {
public:
    explicit FsvSim(const InstrumentSetup& setup);
    FsvState& State() { return m_state; }

    // Hardcopy size in pixels.
    static constexpr int kWidth = 1600;
    static constexpr int kHeight = 1200;

protected:
    void ResetFamilyState() override;

private:
    std::string RenderHardcopy();

    FsvState m_state;
    ImageCache m_images;
};

std::unique_ptr<SimInstrument> CreateFsv(const InstrumentSetup& setup);

} // namespace quarvel::sim
