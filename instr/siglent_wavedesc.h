#pragma once

// The binary waveform descriptor (WAVEDESC) that the Siglent SDS HD / X Plus
// oscilloscopes answer to :WAVeform:PREamble? inside a "#9" block: 346
// bytes, numbers little-endian, at the offsets of the programming guide's
// table and its "read waveform data" example (SDS Series Programming Guide
// EN11D, :WAVeform:PREamble?; the same offsets in scopehal's
// SiglentSCPIOscilloscope::ProcessAnalogWaveform):
//     0 "WAVEDESC"          32 COMM_TYPE (0 byte, 1 word)
//    34 COMM_ORDER (0 LSB first, 1 MSB first)   36 descriptor length (346)
//   116 points (long)      156 volts/div without the probe (float)
//   160 offset without the probe (float)       164 codes per division (float)
//   172 ADC bits (word)    176 sample interval (float)
//   180 horizontal offset, the trigger delay (double)   328 probe factor (float)
// Read strictly: a descriptor with a value that could not scale data
// fails with the reason instead of giving zeros.

#include <cstdint>
#include <span>
#include <string>

namespace quarvel::wavedata {

// Bytes of the descriptor proper; sequence acquisitions append time stamps.
constexpr std::size_t SIGLENT_WAVEDESC_SIZE = 346;

struct SiglentWaveDesc {
    bool wordSamples = false; // COMM_TYPE 1: two bytes a sample
    bool msbFirst = false;    // COMM_ORDER 1
    std::uint32_t points = 0;
    double voltsPerDivision = 0.0; // probe factor applied
    double offset = 0.0;           // probe factor applied
    double codesPerDivision = 0.0; // in the units of the samples as sent
    int adcBits = 0;
    double interval = 0.0; // seconds between samples
    double delay = 0.0;    // seconds, the horizontal offset field
};

// False with the reason in `why` (a sentence part) when the bytes are not
// such a descriptor: shorter than 346 bytes, without its name, a length
// field other than 346, a sample type or order outside 0/1, a point count
// outside 1..MAX_WAVEFORM_POINTS, ADC bits outside 8..16, or a scale,
// interval, code count or probe factor that is not a finite number above 0
// (offset and delay finite).
bool ParseSiglentWaveDesc(std::span<const std::uint8_t> bytes, SiglentWaveDesc& out,
                          std::string& why);

} // namespace quarvel::wavedata
