#pragma once

#include "wavedata/waveform_record.h"

#include <string>

// Semicolon-separated text with CR LF line ends; the file is replaced when
// it exists. False when the file cannot be created or writing fails.
bool WriteCsvFile(const WaveformRecordList& records, const std::string& path);

// Kst dirfile: creates the directory `path` (never an existing one), one raw
// little-endian file per field and the "format" file. False when the
// directory cannot be created or a file cannot be written.
bool WriteKstDirfile(const WaveformRecordList& records, const std::string& path);
