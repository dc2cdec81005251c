#pragma once

// Simulated Rohde & Schwarz FSV spectrum analyser: hardcopies are printed into
// files of its mass memory and read back with :MMEMory:DATA?.

#include "sim/family_support.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <map>
#include <memory>
#include <string>

namespace quarvel::sim {

struct FsvState {
    bool displayUpdate = false;
    std::string fileName;                          // :MMEMory:NAME
    std::string destination = "SYST:COMM:PRIN";    // :HCOPy:DESTination (a printer until set)
    std::string language = "BMP";                  // :HCOPy:DEVice:LANGuage, long form
    bool colour = true;                            // :HCOPy:DEVice:COLor
    std::string windowText;                        // :HCOPy:ITEM:WINDow:TEXT
    bool timeStamp = true;                         // :HCOPy:TDSTamp:STATe
    int colourMap = 4;                             // :HCOPy:CMAP:DEFault<n>
    std::map<std::string, std::string> massMemory; // file name → contents
    int traces = 1;
};

class FsvSim : public SimInstrument {
public:
    explicit FsvSim(const InstrumentSetup& setup);
    FsvState& State() { return m_state; }

    // Hardcopy size in pixels.
    static constexpr int kWidth = 1600;
    static constexpr int kHeight = 1200;
    static constexpr std::size_t kMaxFiles = 16;

protected:
    void ResetFamilyState() override;

private:
    std::string RenderHardcopy();

    FsvState m_state;
    ImageCache m_images;
};

std::unique_ptr<SimInstrument> CreateFsv(const InstrumentSetup& setup);

} // namespace quarvel::sim
