#pragma once

// The table of transports resource strings select: one row per built-in
// transport (transport_table.cpp), then the rows registered at run time
// (transport_registry.h). A new transport is one more row and one source
// file. The search for resources (viFindRsrc) runs the rows' listers.

#include "visa/resource_name.h"
#include "visa/transport.h"

#include <string>
#include <string_view>
#include <vector>

namespace quarvel::visa {

// Parses text and finds its transport row (copied to *row when row is not
// null). Returns VI_SUCCESS, or VI_ERROR_INV_RSRC_NAME for any syntax error
// (also for unknown interfaces or classes).
ViStatus ParseResourceName(std::string_view text, ResourceName& name, TransportRow* row);

// Every resource the transports can find, in table order, duplicates removed
// and merged (MergeLanDuplicates). The listers run side by side.
std::vector<std::string> FindResources(const SessionSettings& settings, Deadline deadline);
// One instrument found several ways (HiSLIP, VXI-11 and raw socket on one
// host) is listed once, by the best of them: HiSLIP, then VXI-11, then
// SOCKET. Names of other interfaces and the order are kept.
std::vector<std::string> MergeLanDuplicates(std::vector<std::string> names);

// True when some transport row serves the interface keyword ("TCPIP").
bool HasTransportFor(std::string_view interfaceType);

} // namespace quarvel::visa
