#include "tests/wavedata/sim_connection.h"

#include <algorithm>

namespace quarvel::test {

bool ConnectToSim(const SimProcess& sim, CInstrConnection& connection, bool vxi11) {
    if (!sim.Started()) {
        return false;
    }
    if (vxi11 && viSetAttribute(connection.GetResourceManager(), QVI_ATTR_PORTMAPPER_PORT,
                                static_cast<ViAttrState>(sim.PortmapperPort())) != VI_SUCCESS) {
        return false;
    }
    if (!connection.Open(vxi11 ? sim.Vxi11Resource() : sim.SocketResource()) ||
        !connection.QueryIdn() || !connection.CreateDriver() || !connection.GetDriver()) {
        return false;
    }
    ChannelList names;
    connection.GetDriver()->GetChannelList(names);
    return true;
}

bool SendToSim(const CInstrConnection& connection, const std::string& command) {
    return viPrintf(connection.GetSession(), "%s\n", command.c_str()) == VI_SUCCESS;
}

bool SyncWithSim(const CInstrConnection& connection) {
    ViInt32 done = 0;
    return viQueryf(connection.GetSession(), "*OPC?\n", "%d", &done) == VI_SUCCESS && done == 1;
}

std::vector<std::string> Transcript(const SimProcess& sim) {
    std::vector<std::string> lines = sim.Transcript();
    lines.erase(std::remove(lines.begin(), lines.end(), "*OPC?"), lines.end());
    return lines;
}

std::vector<std::string> TranscriptSince(const SimProcess& sim, std::size_t from) {
    const std::vector<std::string> all = Transcript(sim);
    if (from >= all.size()) {
        return {};
    }
    return {all.begin() + static_cast<std::ptrdiff_t>(from), all.end()};
}

} // namespace quarvel::test
