#pragma once

// What real instruments' USBTMC firmware is known to get wrong, by vendor
// and product ID: one table (usb_quirks.cpp), read when a session opens.

#include <cstdint>

namespace quarvel::visa::usb {

struct UsbQuirks {
    // The largest TransferSize one REQUEST_DEV_DEP_MSG_IN may ask for.
    std::uint32_t maxTransferSize = 1024 * 1024;
    // Advertises REN_CONTROL in its capabilities but fails when it is sent.
    bool noRenControl = false;
    // Reports 64-byte bulk packets whatever the bus speed.
    bool packetSize64 = false;
};

UsbQuirks QuirksFor(std::uint16_t vendorId, std::uint16_t productId);

} // namespace quarvel::visa::usb
