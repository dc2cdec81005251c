#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where a record keeps its samples. The retrieval fills doubles only; the
// writers also take bytes, and write no field for a value outside the two
// (a record read from elsewhere may carry one).
enum SampleKind : std::int32_t { SAMPLE_KIND_DOUBLE = 0, SAMPLE_KIND_BYTE = 1 };

// The numeric data of one channel, logic pod or analyser trace, with the
// labels the data writers put into their headers. A plain value type.
struct WaveformRecord {
    std::string name;       // "CHAN1", "POD1", "TRACE1": as used in the instrument commands
    std::string xLabel;     // "time/s", "Frequency/Hz"
    std::string yLabel;     // "voltage/V", "Level/DBM"
    std::string yQualifier; // analyser traces: detector and trace mode
    std::vector<double> x;
    std::vector<double> y;           // samples when sampleKind is SAMPLE_KIND_DOUBLE
    std::vector<std::uint8_t> bytes; // samples when sampleKind is SAMPLE_KIND_BYTE
    SampleKind sampleKind = SAMPLE_KIND_DOUBLE;

    // x and y become n zeros each; sampleKind becomes SAMPLE_KIND_DOUBLE.
    void Resize(std::uint32_t n);
};

using WaveformRecordList = std::vector<WaveformRecord>;
using ChannelList = std::vector<std::string>;

// Same number of x values and (when not empty) equal first and last x values.
bool HasSameXAxis(const WaveformRecord& a, const WaveformRecord& b);
// True for fewer than two records, else when every record has the first one's x axis.
bool ShareXAxis(const WaveformRecordList& records);
