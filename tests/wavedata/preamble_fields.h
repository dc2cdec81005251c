#pragma once

#include "wavedata/waveform_preamble.h"

#include <tuple>

// A preamble's fields in the reply's order, to compare (and print) at once.
inline auto Fields(const WaveformPreamble& p) {
    return std::tuple(p.formatCode, p.typeCode, p.points, p.count, p.xIncrement, p.xOrigin,
                      p.xReference, p.yIncrement, p.yOrigin, p.yReference);
}
