#pragma once

// Waveform data of the simulated Rigol oscilloscopes (DS1000Z/DS2000,
// MSO5000/7000/8000, DHO800-4000): channel display switches and the
// :WAVeform subsystem of their programming guides (source, mode, format,
// start/stop of the page, ten-field preamble, data block), and on the MSO and
// DHO :ACQuire:MDEPth?. The samples are the traces of the served screen
// image, so the data match the picture.
//
// Simulator options that shape it (sim/sim_options.cpp):
//   --waveform-points N            record length when stopped (default
//                                  300 000; 1 000 000 on the MSO and DHO)
//   --waveform-page N              most points one :WAV:DATA? returns
//                                  (DS: 250 000 BYTE, 125 000 WORD; DHO:
//                                  250 000; MSO5000: the whole memory)
//   --rigol-swapped-format-codes   DS: preamble format 1 for BYTE, 0 for WORD
//   --rigol-block-tail 0|1|3       DS: what follows each block (as for images)
// the habits of the rigol-mso5000 and rigol-dho personas (RigolWaveHabits),
// and one test-only command:
//   :SIMulate:PREamble:FAIL <n>    channel n's preamble has no x increment (0: none)

#include "sim/family_support.h"

#include <atomic>
#include <functional>
#include <memory>

namespace quarvel::sim {

class RigolSim;

// What tells the series apart, and the habits each persona shows.
struct RigolWaveSeries {
    long long screenPoints = 1200;    // NORMal mode, and any mode while running
    long long defaultPoints = 300000; // record length when stopped
    long long bytePage = 250000;      // most points a read gives (0: the whole memory)
    long long wordPage = 125000;      //   in BYTE and WORD format
    bool twelveBitWords = false;      // DHO: WORD carries 12-bit codes; DS: a byte and 0
    bool answersMemoryDepth = false;  // :ACQuire:MDEPth? (MSO5000, DHO)
    bool swappedFormatCodes = false;  // DS2000 guide: format 1 BYTE, 0 WORD
    // MSO5000: :WAV:MODE and :WAV:FORM fall back to NORMal and BYTE after
    // each :WAV:DATA? (habit wav-settings-reset).
    bool settingsResetAfterData = false;
    // DHO: the preamble counts the :WAV:STARt..STOP window, not the memory
    // (habit preamble-points=window).
    bool preambleCountsWindow = false;
    // The preamble's x reference is 0 (DS; DHO habit xref=zero, as the
    // DHO1000/4000 guide says of :WAV:XREF?); true: the record's middle,
    // the x origin being the time there (DHO habit xref=middle).
    bool xReferenceInMiddle = false;
    int zeroXIncrementChannel = 0; // DHO habit zero-xinc: that channel's x increment is 0
};

struct RigolWaveHost {
    std::function<RunState()> run;
    std::function<int()> blockTail; // 0, 1 (LF) or 3 (00 00 0A) after each block
    // MSO5000 habit empty-data-after-trigger: while false, :WAV:DATA?
    // answers an empty block (null: always settled).
    std::shared_ptr<std::atomic<bool>> memorySettled;
};

void AddRigolWaveforms(CommandTable& table, const QuirkOptions& quirks,
                       const RigolWaveSeries& series, const RigolWaveHost& host);
// The DS1000Z/DS2000 persona's form of the above.
void AddRigolWaveforms(RigolSim& scope, const QuirkOptions& quirks);

} // namespace quarvel::sim
