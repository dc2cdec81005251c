#include "wavedata/waveform_record.h"

#include <algorithm>

void WaveformRecord::Resize(std::uint32_t n) {
    x.assign(n, 0.0);
    y.assign(n, 0.0);
    sampleKind = SAMPLE_KIND_DOUBLE;
}

bool HasSameXAxis(const WaveformRecord& a, const WaveformRecord& b) {
    if (a.x.size() != b.x.size()) {
        return false;
    }
    if (a.x.empty()) {
        return true;
    }
    // Exact comparison on purpose: only the ends are compared, and a NaN end
    // never matches, so such a record always gets its own x column.
    return a.x.front() == b.x.front() && a.x.back() == b.x.back();
}

bool ShareXAxis(const WaveformRecordList& records) {
    if (records.size() < 2) {
        return true;
    }
    return std::all_of(records.begin() + 1, records.end(),
                       [&](const WaveformRecord& r) { return HasSameXAxis(records.front(), r); });
}
