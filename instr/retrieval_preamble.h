#pragma once

// The ten-field waveform preamble that Rigol and the Keysight Infiniium
// share with InfiniiVision (<format>,<type>,<points>,<count>,<xincrement>,
// <xorigin>,<xreference>,<yincrement>,<yorigin>,<yreference>; Infiniium
// sends more fields after these), read strictly: a preamble whose fields do
// not all read as numbers fails with the reason, instead of scaling data
// with zeros.

#include "wavedata/waveform_preamble.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel::wavedata {

struct TenFieldPreamble {
    std::uint32_t points = 0;
    double xIncrement = 0.0;
    double xOrigin = 0.0;
    double xReference = 0.0;
    double yIncrement = 0.0;
    double yOrigin = 0.0;
    double yReference = 0.0;
};

// False with the reason in `why` when a field is missing or unreadable,
// the point count is not in 1..maxPoints, or an increment is not a finite
// number (the x increment must be above 0). maxPoints bounds what the
// caller allocates from the count: MAX_WAVEFORM_POINTS (2^24) unless the
// family reads deeper memory.
bool ParseTenFieldPreamble(std::string_view text, TenFieldPreamble& out, std::string& why,
                           std::uint32_t maxPoints = MAX_WAVEFORM_POINTS);

} // namespace quarvel::wavedata
