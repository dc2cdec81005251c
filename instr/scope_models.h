#pragma once

#include <string>

// Analog channels of an oscilloscope whose model number ends in its channel
// count: the last digit of the first four-digit run (Rigol DS1054Z and
// MSO1104Z: 4, DS1202Z-E and DS2102A: 2; Siglent SDS1104X-E: 4,
// SDS1202X-E: 2). 4 when the name has no such number.
int ChannelCountOfModel(const std::string& model);

// Analog channels of a Tektronix oscilloscope: the last digit of the model's
// first number (MSO58 and MSO58LP: 8, MSO46: 6, MSO64B and MDO3104: 4,
// MDO32, DPO2002B and TBS1052B: 2, "TDS 2024C": 4), as Tektronix numbers its
// models; 4 when that digit is no channel count (2, 4, 6 or 8) or there is
// no number.
int ChannelCountOfTektronixModel(const std::string& model);
