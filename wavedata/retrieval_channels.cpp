#include "wavedata/waveform_record.h"

#include "instr/instr_ll.h"

#include <algorithm>

// Lives with the drivers' waveform operations (it asks the driver), so the
// record and writer library stays free of the driver classes.
void KeepActiveChannels(ChannelList& selected, CInstrLL& driver) {
    ChannelList active;
    driver.GetActiveChannels(active);
    std::size_t index = 0;
    while (index < selected.size()) {
        if (std::find(active.begin(), active.end(), selected[index]) == active.end()) {
            selected.erase(selected.begin() + static_cast<std::ptrdiff_t>(index));
        } else {
            ++index;
        }
    }
}
