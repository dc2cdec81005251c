#pragma once

// Resource strings: their syntax and their canonical form. Which transport
// a string selects, and what its fields mean, is the transport table's
// (transport_table.h).
//
//   TCPIP[board]::host[::device][::INSTR]   VXI-11, device "inst0" by default
//   TCPIP[board]::host::hislipN[,port][::INSTR]  HiSLIP, port 4880 by default
//   TCPIP[board]::host::port::SOCKET        raw TCP socket
//   USB[board]::vendor::product::serial[::interface][::INSTR]   USBTMC
//
// Keywords (interface type, resource class) are case-insensitive; host and
// device names are passed through unchanged; IPv6 hosts are written in
// brackets ("TCPIP::[fe80::1]::INSTR").

#include "visa/visa.h"

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

// Splits text by the syntax every resource string shares: the interface
// keyword (upper case) and board number go to name, every field after the
// interface to name.fields (the resource class, when written, is the last
// one); lastFieldBracketed tells whether that last field was an IPv6 host
// in brackets, so no class. VI_SUCCESS, or VI_ERROR_INV_RSRC_NAME for a
// syntax error. The transport table interprets the fields (ParseResourceName).
ViStatus SplitResourceName(std::string_view text, ResourceName& name, bool& lastFieldBracketed);

// How one kind of resource string reads: its interface keyword and class,
// how many fields lie between them, and what they mean. Each transport row
// (transport.h) names its form; the built-in ones are in resource_forms.h.
struct ResourceForm {
    const char* interfaceType; // upper case
    ViUInt16 interfaceCode;    // VI_INTF_TCPIP …; 0 for Quarvel's test interface
    const char* resourceClass; // upper case
    bool defaultClass;         // chosen when the string names no class
    std::size_t minFields;
    std::size_t maxFields;
    // Checks and interprets the fields (host, device, port).
    bool (*interpret)(ResourceName& name);
};

// Parses text by the first of forms that takes it, trying them from the
// last to the first (later forms take precedence): forms that name the class
// written last come first, then the interface's default forms. Several forms
// may share an interface and class (VXI-11 and HiSLIP are both TCPIP INSTR):
// the first whose fields fit takes the string. *chosen (when not null) is
// that form. VI_SUCCESS or VI_ERROR_INV_RSRC_NAME.
ViStatus ParseResourceNameByForms(std::string_view text,
                                  const std::vector<const ResourceForm*>& forms, ResourceName& name,
                                  const ResourceForm** chosen);

// A keyword as resource strings compare it: ASCII letters upper case.
std::string ResourceKeyword(std::string_view text);

// The unique form of a parsed name: board number and resource class written
// out, the default device filled in ("TCPIP0::10.0.0.5::inst0::INSTR").
std::string CanonicalResourceName(const ResourceName& name);

} // namespace quarvel::visa
