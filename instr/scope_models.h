#pragma once

#include <string>

// Analog channels of an oscilloscope whose model number ends in its channel
// count: the last digit of the first four-digit run (Rigol DS1054Z and
// MSO1104Z: 4, DS1202Z-E and DS2102A: 2; Siglent SDS1104X-E: 4,
// SDS1202X-E: 2). 4 when the name has no such number.
int ChannelCountOfModel(const std::string& model);
