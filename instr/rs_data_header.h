#pragma once

// The reply to CHANnel<m>:DATA:HEADer? of the Rohde & Schwarz oscilloscopes
// (RTB2000, RTM3000, RTA4000, MXO 4/5): four comma-separated numbers, the
// time of the first sample (XStart), of the last (XStop), the record length
// in samples and the values per sample interval (1; 2 for peak detect and
// envelope waveforms). Example from the RTM3000 user manual:
// "-9.477E-008,9.477E-008,120000,1". Read strictly: every field must be a
// number and nothing else, so a reply that is not a header fails with the
// reason instead of sizing a transfer.

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel::wavedata {

struct RsDataHeader {
    double xStart = 0.0;
    double xStop = 0.0;
    // 0 for a channel that is switched off (the RTB2000 answers so).
    std::uint32_t length = 0;
    std::uint32_t valuesPerSample = 0; // 1 or 2
};

// False with the reason in `why` when the reply does not hold exactly four
// numbers, a time is not finite, the length is not a whole number in
// 0..MAX_WAVEFORM_POINTS, or the values per sample are not 1 or 2.
bool ParseRsDataHeader(std::string_view text, RsDataHeader& out, std::string& why);

} // namespace quarvel::wavedata
