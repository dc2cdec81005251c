#pragma once

// What the USBTMC transport needs from a USB device, whichever host side
// reaches it: libusb on this machine, or a USB/IP server on the network.
// Each call is bounded by its deadline; a transfer that times out has been
// cancelled when the call returns, so the next one starts clean.

#include "codec/usb_descriptors.h"
#include "visa/transport.h"

#include <cstddef>
#include <cstdint>

namespace quarvel::visa::usb {

enum class UsbResult {
    Ok,
    Timeout,
    Stall,    // the endpoint answered STALL (halt, or a refused request)
    Lost,     // the device or the link to it is gone
    Overflow, // the device sent more than the transfer could hold
    NoAccess, // present but not accessible to this user (device node permissions)
    Busy,     // the interface is claimed by another program
    Error,
};

// The VISA status for a failed USB call.
ViStatus StatusOf(UsbResult result);

// A control transfer's setup packet.
struct ControlSetup {
    std::uint8_t requestType = 0; // bit 7: device to host
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;

    bool IsIn() const { return (requestType & 0x80) != 0; }
};

class IUsbDevice {
public:
    virtual ~IUsbDevice() = default;
    // data holds setup.length bytes: filled for IN, sent for OUT.
    virtual UsbResult Control(const ControlSetup& setup, std::uint8_t* data, Deadline deadline,
                              std::size_t& transferred) = 0;
    // One bulk or interrupt transfer (endpoint bit 7: IN). An IN transfer
    // ends when size bytes arrived or at a short packet.
    virtual UsbResult Transfer(std::uint8_t endpoint, std::uint8_t* data, std::size_t size,
                               Deadline deadline, std::size_t& transferred) = 0;
    virtual UsbResult ClearHalt(std::uint8_t endpoint, Deadline deadline) = 0;
    // Makes the configuration current (when it is not) and claims the
    // interface for this process.
    virtual UsbResult Claim(std::uint8_t configurationValue, std::uint8_t interfaceNumber,
                            Deadline deadline) = 0;
};

} // namespace quarvel::visa::usb
