#pragma once

// The libusb host side: USBTMC devices plugged into this machine. libusb
// detaches the kernel's usbtmc driver when the interface is claimed and
// attaches it again when the session closes.

#include "visa/usb_device.h"

#include <memory>
#include <vector>

namespace quarvel::visa::usb {

// A device with a USBTMC interface, as the bus lists it (no I/O needed).
struct LocalUsbtmcDevice {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// Every attached device with an interface of class 0xFE/0x03; empty when
// the machine has no USB at all.
std::vector<LocalUsbtmcDevice> ListLocalUsbtmc();

// Opens the device at bus/address. NoAccess when the device node's
// permissions keep this user out; Lost when it is gone.
UsbResult OpenLocalDevice(const LocalUsbtmcDevice& which, std::unique_ptr<IUsbDevice>& device);

} // namespace quarvel::visa::usb
