#pragma once

#include "capture/data_format.h"
#include "wavedata/waveform_record.h"

#include <functional>
#include <string>

class CInstrLL;

using StatusSink = std::function<void(const std::string&)>;

// Extension of the data file in `format`: "" (dirfile) or "csv".
std::string DataExtensionFor(DataFormat format);

// Reads the `selected` channels that the instrument shows into `records`
// (emptied first), between BeginDataCapture and EndDataCapture, showing
// "Getting waveform data for channel <name>..." per channel. Channels not
// yet read when `cancelled` turns true are skipped. Returns what kept
// selected channels out of the records, one sentence each ("CHAN5 is not
// offered by this instrument.", "CHAN3 is switched off.", "CHAN2: <reason>."),
// "" when every selected channel was read.
std::string CaptureWaveforms(CInstrLL& driver, ChannelList selected, WaveformRecordList& records,
                             const StatusSink& status, const std::function<bool()>& cancelled = {});

// Writes `records` to `path` in the given format. Nothing is written (and
// true returned) when the list is empty; false when the writer failed.
bool SaveWaveforms(const WaveformRecordList& records, DataFormat format, const std::string& path,
                   const StatusSink& status);
