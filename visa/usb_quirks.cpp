#include "visa/usb_quirks.h"

namespace quarvel::visa::usb {

namespace {

constexpr std::uint32_t kAnyProduct = 0x10000;

struct QuirkRow {
    std::uint16_t vendorId;
    std::uint32_t productId; // kAnyProduct: every product of the vendor
    // Fields that differ from the defaults; 0 keeps the default size.
    std::uint32_t maxTransferSize;
    bool noRenControl;
    bool packetSize64;
};

// Rows are matched top to bottom; the first match wins.
constexpr QuirkRow kQuirks[] = {
    // Rigol DS1000Z: bulk endpoints report 64-byte packets even at high
    // speed, and large reads only work in whole packets (which the
    // transport always asks for).
    {0x1AB1, 0x04CE, 0, false, true},
    // Older Rigol scopes and generators advertise REN_CONTROL but stall it.
    {0x1AB1, 0x0588, 0, true, false},
    {0x1AB1, 0x04B0, 0, true, false},
    {0x1AB1, 0x04B1, 0, true, false},
    {0x1AB1, 0x0515, 0, true, false},
    // Agilent 0x0588 (a rebadged Rigol) does the same.
    {0x0957, 0x0588, 0, true, false},
    // Siglent SDS2304X hangs on reads over 2032 bytes.
    {0xF4EC, 0xEE3A, 2032, true, false},
    // Siglent SDS1x04X-E: requests over 48 bytes go unanswered on some
    // firmware.
    {0xF4EC, 0xEE38, 48, true, false},
    // No Siglent unit honours REN_CONTROL.
    {0xF4EC, kAnyProduct, 0, true, false},
};

} // namespace

UsbQuirks QuirksFor(std::uint16_t vendorId, std::uint16_t productId) {
    UsbQuirks quirks;
    for (const QuirkRow& row : kQuirks) {
        if (row.vendorId != vendorId ||
            (row.productId != kAnyProduct && row.productId != productId))
            continue;
        if (row.maxTransferSize != 0)
            quirks.maxTransferSize = row.maxTransferSize;
        quirks.noRenControl = row.noRenControl;
        quirks.packetSize64 = row.packetSize64;
        break;
    }
    return quirks;
}

} // namespace quarvel::visa::usb
