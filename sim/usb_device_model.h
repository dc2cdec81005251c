#pragma once

// The simulated instrument as a whole USB device: device, configuration,
// interface, endpoint and string descriptors with the family's vendor and
// product IDs, the standard requests of the default pipe, endpoint halts,
// and the USBTMC/USB488 interface behind bulk-OUT 0x01, bulk-IN 0x82 and
// interrupt-IN 0x83 (left out with --usb-no-interrupt).

#include "codec/usb_descriptors.h"
#include "codec/usbip_protocol.h"
#include "sim/usbtmc_function.h"

#include <array>
#include <cstdint>
#include <string>

namespace quarvel::sim {

// What the device reports about itself.
struct UsbIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    bool fullSpeed = false;
};

// The identity of the simulated family: IDs from the family table, the
// strings from the *IDN? reply (serial "QVSIM00001" when it has none).
UsbIdentity UsbIdentityFor(std::string_view family, const std::string& idn, bool fullSpeed);

// The device as the USB/IP devlist and import replies describe it.
visa::usbip::ExportedDevice ExportedDeviceFor(const UsbIdentity& identity);

class SimUsbDevice {
public:
    static constexpr std::uint8_t kBulkOut = 0x01;
    static constexpr std::uint8_t kBulkIn = 0x82;
    static constexpr std::uint8_t kInterruptIn = 0x83;

    SimUsbDevice(const UsbIdentity& identity, SimInstrument& instrument, Transcript* transcript,
                 const FaultOptions& faults, const UsbOptions& options);

    // A control transfer on the default pipe; false to stall it. For IN
    // requests reply holds at most the setup's wLength bytes.
    bool Control(const std::array<std::uint8_t, 8>& setup, visa::usb::ByteView outData,
                 UsbBytes& reply);
    // A bulk-OUT transfer to endpoint number; false when it stalls.
    bool Out(std::uint8_t endpoint, visa::usb::ByteView data);
    // The next packet an IN endpoint (number with bit 7) has to send; false
    // when it has none now. halted: the endpoint is halted (the URB fails).
    bool PeekIn(std::uint8_t endpoint, UsbBytes& packet, bool& halted);
    void PopIn(std::uint8_t endpoint);
    std::uint16_t PacketSize(std::uint8_t endpoint) const;

    UsbtmcFunction& Function() { return m_function; }

private:
    bool StandardRequest(const std::array<std::uint8_t, 8>& setup, UsbBytes& reply);
    bool& Halted(std::uint8_t endpoint);

    UsbIdentity m_identity;
    bool m_hasInterrupt;
    std::uint16_t m_bulkPacketSize;
    visa::usb::Bytes m_deviceDescriptor;
    visa::usb::Bytes m_configuration;
    UsbtmcFunction m_function;
    std::uint8_t m_configurationValue = 0;
    bool m_bulkOutHalted = false;
    bool m_bulkInHalted = false;
    bool m_interruptHalted = false;
};

} // namespace quarvel::sim
