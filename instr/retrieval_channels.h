#pragma once

#include "wavedata/waveform_record.h"

class CInstrLL;

// Removes from `selected` every name the driver does not report as active,
// keeping the order of the selection.
void KeepActiveChannels(ChannelList& selected, CInstrLL& driver);
