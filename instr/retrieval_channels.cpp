#include "instr/retrieval_channels.h"

#include "instr/instr_ll.h"

#include <algorithm>

// Asks the driver, so it lives with the drivers rather than with the records.
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
