#pragma once

#include "wavedata/waveform_record.h"

#include <functional>
#include <string>

class CInstrLL;

using StatusSink = std::function<void(const std::string&)>;

constexpr int DATA_FORMAT_DIRFILE = 1;
constexpr int DATA_FORMAT_CSV = 2;

// Extension of the data file for a data format code: "" (dirfile) or "csv".
std::string DataExtensionFor(int dataFormatCode);

// Reads the `selected` channels that the instrument shows into `records`
// (emptied first), between BeginDataCapture and EndDataCapture, showing
// "Getting waveform data for channel <name>..." per channel.
void CaptureWaveforms(CInstrLL& driver, ChannelList selected, WaveformRecordList& records,
                      const StatusSink& status);

// Writes `records` to `path` in the given format. Nothing is written (and
// true returned) when the list is empty; false when the writer failed.
bool SaveWaveforms(const WaveformRecordList& records, int dataFormatCode, const std::string& path,
                   const StatusSink& status);
