#pragma once

#include "visa/visa.h"
#include "wavedata/waveform_record.h"

class CInstrLL;

// Removes from `selected` every name the driver does not report as active,
// keeping the order of the selection.
void KeepActiveChannels(ChannelList& selected, CInstrLL& driver);

// The names among `names` whose ":<name>:DISPlay?" query answers non-zero
// (the Rigol DS and Keysight Infiniium form); a name whose query fails
// counts as off.
ChannelList ChannelsDisplayed(ViSession session, const ChannelList& names);
