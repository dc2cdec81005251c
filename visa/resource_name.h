#pragma once

// Resource strings and the table of transports they select.
//
//   TCPIP[board]::host[::device][::INSTR]   VXI-11, device "inst0" by default
//   TCPIP[board]::host::hislipN[,port][::INSTR]  HiSLIP, port 4880 by default
//   TCPIP[board]::host::port::SOCKET        raw TCP socket
//   USB[board]::vendor::product::serial[::interface][::INSTR]   USBTMC
//
// Keywords (interface type, resource class) are case-insensitive; host and
// device names are passed through unchanged; IPv6 hosts are written in
// brackets ("TCPIP::[fe80::1]::INSTR"). A new transport is one more row in the
// table (resource_name.cpp) and one source file.

#include "visa/transport.h"

#include <string>
#include <string_view>
#include <vector>

namespace quarvel::visa {

struct ResourceName {
    std::string interfaceType; // upper case, e.g. "TCPIP"
    unsigned board = 0;
    std::string resourceClass; // upper case, e.g. "INSTR"; the default filled in
    // The fields between interface and class, as written (brackets removed
    // from an IPv6 host).
    std::vector<std::string> fields;
    // Filled in by the matching transport row.
    std::string host;
    std::string device; // VXI-11 device name, HiSLIP sub-address ("hislip0")
    ViUInt16 port = 0;  // SOCKET or HiSLIP port
    // USB: IDs in hex (0x1AB1) or decimal, serial number as written,
    // interface number or -1 when not given.
    ViUInt16 manufacturerId = 0;
    ViUInt16 modelCode = 0;
    std::string serialNumber;
    int interfaceNumber = -1;
};

struct TransportRow {
    const char* interfaceType; // upper case
    ViUInt16 interfaceCode;    // VI_INTF_TCPIP …; 0 for Quarvel's test interface
    const char* resourceClass; // upper case
    bool defaultClass;         // chosen when the string names no class
    std::size_t minFields;
    std::size_t maxFields;
    // Checks and interprets the fields (host, device, port).
    bool (*interpret)(ResourceName& name);
    TransportFactory open;
    // What this transport can find for viFindRsrc; null when it finds nothing.
    ResourceLister find;
};

// Parses text and finds its transport row (copied to *row when row is not
// null). Returns VI_SUCCESS, or VI_ERROR_INV_RSRC_NAME for any syntax error
// (also for unknown interfaces or classes).
ViStatus ParseResourceName(std::string_view text, ResourceName& name, TransportRow* row);

// The unique form of a parsed name: board number and resource class written
// out, the default device filled in ("TCPIP0::10.0.0.5::inst0::INSTR").
std::string CanonicalResourceName(const ResourceName& name);

// Every resource the transports can find, in table order, duplicates removed
// and merged (MergeLanDuplicates). The listers run side by side.
std::vector<std::string> FindResources(const SessionSettings& settings, Deadline deadline);
// One instrument found several ways (HiSLIP, VXI-11 and raw socket on one
// host) is listed once, by the best of them: HiSLIP, then VXI-11, then
// SOCKET. Names of other interfaces and the order are kept.
std::vector<std::string> MergeLanDuplicates(std::vector<std::string> names);

// Adds a row at run time (a test transport, a system VISA library found when
// the program starts). Rows added later take precedence over earlier ones.
void RegisterTransport(const TransportRow& row);

// True when some transport row serves the interface keyword ("TCPIP").
bool HasTransportFor(std::string_view interfaceType);

} // namespace quarvel::visa
