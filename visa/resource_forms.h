#pragma once

// The resource strings the built-in transports take, as syntax only: for
// each its keyword, class, field count and field check (host, device, port,
// USB IDs). The transport table (transport_table.h) pairs each form with the
// transport that opens it; parsing needs no transport, so the parser, the
// search-expression matcher and their fuzz targets link none.

#include "visa/resource_name.h"

#include <string_view>
#include <vector>

namespace quarvel::visa {

// TCPIP::host[::device][::INSTR], any device but "hislipN".
extern const ResourceForm kVxi11Form;
// TCPIP::host::hislipN[,port][::INSTR]
extern const ResourceForm kHislipForm;
// TCPIP::host::port::SOCKET
extern const ResourceForm kSocketForm;
// USB::vendor::product::serial[::interface][::INSTR]
extern const ResourceForm kUsbForm;

// The built-in forms in the transport table's order (later ones take
// precedence: HiSLIP is tried before VXI-11 for "TCPIP::host::device").
std::vector<const ResourceForm*> BuiltinResourceForms();

// The built-in forms and those of the rows registered at run time
// (transport_registry.h), in the order ParseResourceName tries them.
std::vector<const ResourceForm*> KnownResourceForms();

// Parses text by the known forms; *form (when not null) is the form that
// took it. VI_SUCCESS or VI_ERROR_INV_RSRC_NAME.
ViStatus ParseKnownResourceName(std::string_view text, ResourceName& name,
                                const ResourceForm** form);

// "hislip0", "HiSLIP1,4881": a device name that belongs to HiSLIP, not VXI-11.
bool IsHislipDeviceName(std::string_view device);

} // namespace quarvel::visa
