#pragma once

// The formats of the waveform data saved beside an image. The values are the
// codes the form's "Data save format" entries carry; anything else (no entry
// selected) means the dirfile.
enum class DataFormat : int { Dirfile = 1, Csv = 2 };
