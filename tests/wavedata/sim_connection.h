#pragma once

// A connection with its driver to a simulator started for one test.

#include "instr/instr_connection.h"
#include "tests/support/sim_process.h"

#include <string>
#include <vector>

namespace quarvel::test {

// Connects over the raw socket (or VXI-11 when vxi11 is true), identifies
// the instrument and creates its driver, then lists its channels as the
// capture controller does at connect time.
bool ConnectToSim(const SimProcess& sim, CInstrConnection& connection, bool vxi11 = false);

// Sends one command (a line feed is added) on the connection's session.
bool SendToSim(const CInstrConnection& connection, const std::string& command);

// Waits until the simulator has handled (and recorded) every command sent
// so far: a "*OPC?" round trip.
bool SyncWithSim(const CInstrConnection& connection);

// Everything recorded so far, without the "*OPC?" of SyncWithSim.
std::vector<std::string> Transcript(const SimProcess& sim);
// The commands recorded after the first `from` entries of Transcript().
std::vector<std::string> TranscriptSince(const SimProcess& sim, std::size_t from);

} // namespace quarvel::test
