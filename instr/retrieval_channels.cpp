#include "instr/retrieval_channels.h"

#include "instr/instr_ll.h"
#include "instr/retrieval_io.h"

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

ChannelList ChannelsDisplayed(ViSession session, const ChannelList& names) {
    ChannelList shown;
    for (const std::string& name : names) {
        std::int32_t on = 0;
        if (quarvel::wavedata::QueryInt32(session, ":" + name + ":DISP?\n", on) && on != 0)
            shown.push_back(name);
    }
    return shown;
}
