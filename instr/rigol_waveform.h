#pragma once

// The Rigol :WAVeform subsystem, as the DS1000Z/DS2000 driver and the
// methods of the MSO5000/7000/8000 and DHO definitions read it: the source
// and its settings, the ten-field preamble, then the data in pages
// (:WAVeform:STARt/:WAVeform:STOP, one :WAVeform:DATA? each), scaled by the
// guides' formula
//   V = (code - yorigin - yreference) * yincrement
//   t = (i - xreference) * xincrement + xorigin
// The commands and their sources are in the callers and docs/design.md.

#include "instr/retrieval_preamble.h"
#include "visa/visa.h"
#include "wavedata/waveform_record.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quarvel::instr {

// Deepest record the MSO5000 and DHO methods read: a record keeps x and y
// as doubles (16 bytes a point) beside the largest block read (1 byte a
// point for the MSO5000's one block), so 100 M points take about 1.7 GB,
// the last memory depth of these series that fits a capture in 2 GB. The
// MSO5000's 200 M and the DHO4000's 250 M/500 M are refused by name before
// anything is allocated.
constexpr std::uint32_t kRigolMaxPoints = 100'000'000;

// :WAV:SOUR <channel>, :WAV:MODE <mode>, :WAV:FORM <format>; false when a
// command cannot be sent.
bool SelectRigolSource(ViSession session, const std::string& channel, std::string_view mode,
                       std::string_view format);

// :WAV:PRE?, read strictly; a point count above `maxPoints` fails. False
// with the reason in `why`.
bool QueryRigolPreamble(ViSession session, std::uint32_t maxPoints,
                        quarvel::wavedata::TenFieldPreamble& preamble, std::string& why);

struct RigolPageRead {
    std::uint32_t points = 0;     // the whole record
    std::uint32_t pagePoints = 0; // most points one :WAV:DATA? gives
    // 1: BYTE codes; 2: WORD codes, least significant byte first (12-bit
    // samples on the DHO).
    unsigned sampleBytes = 1;
    ViUInt32 timeoutMs = 0; // in force for each page's block
    // Commands before each page's :WAV:DATA? beyond its STARt and STOP
    // (the MSO5000's repeated settings and wait); empty: none. False stops
    // the read.
    std::function<bool()> beforeData;
    // Asked between pages: true stops the read after the current page.
    std::function<bool()> cancelled;
};

// Reads `read.points` samples of the selected source and scales them by
// `preamble` into `out` (x and y, the channel's name and labels). Each page
// is asked for before the one before it is converted, so the instrument
// sends while this side computes. False with the reason in `why` ("points 1
// to 250000: the page brought 0 of its 250000 points"); `out` then holds no
// usable record.
bool ReadRigolPages(ViSession session, const RigolPageRead& read,
                    const quarvel::wavedata::TenFieldPreamble& preamble, const std::string& channel,
                    WaveformRecord& out, std::string& why);

} // namespace quarvel::instr
