#pragma once

// Simulated Tektronix oscilloscopes of today, three personas on one model
// of the instrument:
//  - tek-mso: MSO 2/4/5/6 Series (and B), LPD64. SAVE:IMAGe "<path>" writes
//    the picture to the instrument's disk, FILESystem:READFile sends the
//    file's bytes raw (no header; END closes them, on a raw socket nothing
//    but the PNG's own chunks), FILESystem:DELEte removes it.
//  - tek-mdo: MDO3000/4000, MSO/DPO2000-4000. SAVe:IMAGe:FILEFormat and
//    :INKSaver, then HARDCopy STARt sends the file raw; the disk route works
//    too.
//  - tek-tbs: TBS1000/2000, TDS1000/2000. HARDCopy:FORMat, HARDCopy:PORT USB,
//    HARDCopy STARt: a raw BMP sized by its own header, after the seconds
//    the instrument takes to render it.
// Run control for all: ACQuire:STATE RUN|STOP|ON|OFF|1|0, ACQuire:STOPAfter
// RUNSTop|SEQuence, ACQuire:STATE? (1 while acquiring). A sequence (single)
// reads 1 once, then 0: the simulated signal always triggers.
// Waveform data (sim/waveform_tektronix.h): tek-mso WFMOutpre? with 22 fields,
// SRIbinary words of 16 significant bits, DISplay:GLObal:<source>:STATE,
// CH1-CH<model's count>, MATH1 as floats, REF1; tek-mdo WFMOutpre? with 17
// fields, SELect:<source>, CH1-CH4, MATH, REF1-REF4; tek-tbs WFMPre?, SELect:CH<x>,
// 2 500 points. Habits: curve-junk, wfid.

#include "sim/family_support.h"
#include "sim/habits.h"
#include "sim/instrument_files.h"
#include "sim/screen_image.h"
#include "sim/sim_instrument.h"

#include <memory>
#include <span>
#include <string>

namespace quarvel::sim {

struct TektronixMsoState {
    std::string model;
    bool acquiring = true;
    std::string stopAfter = "RUNSTOP";  // ACQuire:STOPAfter, long form
    int stateReads = 0;                 // ACQuire:STATE? readings since the last start
    bool headers = false;               // HEADer
    bool verbose = true;                // VERBose: long header forms
    std::string composition = "NORMAL"; // SAVE:IMAGe:COMPosition (MSO) NORMal|INVErted
    std::string fileFormat = "PNG";     // SAVe:IMAGe:FILEFormat (MDO)
    bool inkSaver = false;              // SAVe:IMAGe:INKSaver (MDO)
    std::string hardcopyFormat = "BMP"; // HARDCopy:FORMat (TBS)
    std::string port = "USB";           // HARDCopy:PORT (TBS)
    std::string directory = "C:/";      // FILESystem:CWD
    InstrumentFiles disk;
};

class TektronixMsoSim : public SimInstrument {
public:
    enum class Series { Mso, Mdo, Tbs };
    TektronixMsoSim(const InstrumentSetup& setup, Series series);
    TektronixMsoState& State() { return m_state; }

protected:
    void ResetFamilyState() override;
    std::string ReplyHeader(const HeaderForms& forms) const override;

private:
    void AddAcquisition();
    void AddDisk();
    void AddHardcopy();
    void AddWaveforms(const InstrumentSetup& setup);
    std::string Picture(bool png, bool inverted);

    Series m_series;
    bool m_rawLineFeed;
    int m_hardcopyDelayMs;
    int m_width = 1920;
    int m_height = 1080;
    int m_analogChannels = 4; // the model's, by its number (MSO58: 8)
    TektronixMsoState m_state;
    ImageCache m_images;
};

std::span<const HabitInfo> TektronixMsoHabits();
std::span<const HabitInfo> TektronixMdoHabits();
std::span<const HabitInfo> TektronixTbsHabits();
std::unique_ptr<SimInstrument> CreateTektronixMso(const InstrumentSetup& setup);
std::unique_ptr<SimInstrument> CreateTektronixMdo(const InstrumentSetup& setup);
std::unique_ptr<SimInstrument> CreateTektronixTbs(const InstrumentSetup& setup);

} // namespace quarvel::sim
