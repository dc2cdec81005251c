#pragma once

// Finding USBTMC devices and identifying them: on the USB/IP servers a
// session names (QVI_ATTR_USBIP_SERVERS, QUARVEL_USBIP) and on this machine
// (libusb). The USBTMC transport opens the device a resource string names
// through FindUsbtmcDevice; viFindRsrc lists them through FindUsbResources
// (builtin_transports.h).

#include "visa/resource_name.h"
#include "visa/transport.h"
#include "visa/usb_device.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarvel::visa {

// What a host side found: a USBTMC interface and the identity of its device.
struct UsbtmcIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serialNumber;
    std::uint8_t configurationValue = 1;
    std::uint8_t interfaceNumber = 0;
    std::uint8_t protocol = 0;
    std::uint8_t bulkOut = 0;
    std::uint8_t bulkIn = 0;
    std::uint8_t interruptIn = 0; // 0: none
    std::uint16_t interruptPacketSize = 0;
    std::uint16_t bulkInPacketSize = 64;
};

// Opens the device name selects (vendor, product, serial number and, when
// given, interface) and reads its descriptors; the caller takes the device.
// VI_ERROR_RSRC_NFOUND when no server and no device on this machine has it;
// QVI_ERROR_NO_PERMISSION when the only match on this machine may not be
// opened by this user.
ViStatus FindUsbtmcDevice(const ResourceName& name, const SessionSettings& settings,
                          Deadline deadline, std::unique_ptr<usb::IUsbDevice>& device,
                          UsbtmcIdentity& identity);

} // namespace quarvel::visa
