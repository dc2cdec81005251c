#pragma once

#include "capture/data_format.h"
#include "wavedata/waveform_record.h"

#include <cstddef>
#include <functional>
#include <string>

class CInstrLL;

using StatusSink = std::function<void(const std::string&)>;
// A channel's read begins: its name, its number (from 1) and how many are read.
using ChannelStartSink =
    std::function<void(const std::string& channel, std::size_t number, std::size_t count)>;

// Extension of the data file in `format`: "" (dirfile) or "csv".
std::string DataExtensionFor(DataFormat format);

// Reads the `selected` channels that the instrument shows into `records`
// (emptied first), between BeginDataCapture and EndDataCapture, showing
// "Getting waveform data for channel <name>..." per channel and telling
// `channelStarted` (when given) which of how many it is. Channels not yet
// read when `cancelled` turns true are skipped. Returns what kept
// selected channels out of the records, one sentence each ("CHAN5 is not
// offered by this instrument.", "CHAN3 is switched off.", "CHAN2: <reason>."),
// "" when every selected channel was read.
std::string CaptureWaveforms(CInstrLL& driver, ChannelList selected, WaveformRecordList& records,
                             const StatusSink& status, const std::function<bool()>& cancelled = {},
                             const ChannelStartSink& channelStarted = {});

// Writes `records` to `path` in the given format. Nothing is written (and
// true returned) when the list is empty; false when the writer failed. With
// `whileWriting` the writer runs on a thread of its own (the records must
// not change meanwhile) and `whileWriting` is called on the caller's thread
// at least every 20 ms until it has finished, so a window paints while
// hundreds of megabytes go to disk; `status` is always called on the
// caller's thread.
bool SaveWaveforms(const WaveformRecordList& records, DataFormat format, const std::string& path,
                   const StatusSink& status, const std::function<void()>& whileWriting = {});
