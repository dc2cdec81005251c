#include "sim/usb_device_model.h"

#include "sim/family_registry.h"

#include <algorithm>

namespace quarvel::sim {

namespace usb = visa::usb;
namespace tmc = visa::usbtmc;

namespace {

constexpr std::uint8_t kInterfaceNumber = 0;
constexpr std::uint8_t kStringManufacturer = 1;
constexpr std::uint8_t kStringProduct = 2;
constexpr std::uint8_t kStringSerial = 3;
constexpr std::uint16_t kHighSpeedBulkPacket = 512;
constexpr std::uint16_t kFullSpeedBulkPacket = 64;
constexpr std::uint16_t kInterruptPacketSize = 8;
// Standard requests of the default pipe.
constexpr std::uint8_t kGetStatus = 0;
constexpr std::uint8_t kSetFeature = 3;
constexpr std::uint8_t kGetConfiguration = 8;
constexpr std::uint8_t kGetInterface = 10;
constexpr std::uint8_t kSetInterface = 11;
// bmRequestType: type bits.
constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kTypeStandard = 0x00;
constexpr std::uint8_t kTypeClass = 0x20;

std::string IdnField(const std::string& idn, std::size_t index) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        start = idn.find(',', start);
        if (start == std::string::npos)
            return {};
        ++start;
    }
    std::string field = idn.substr(start, idn.find(',', start) - start);
    field.erase(0, field.find_first_not_of(' '));
    field.erase(field.find_last_not_of(' ') + 1);
    return field;
}

} // namespace

UsbIdentity UsbIdentityFor(std::string_view family, const std::string& idn, bool fullSpeed) {
    UsbIdentity id;
    if (const FamilyInfo* info = FindFamily(family)) {
        const UsbModelIds ids = UsbIdsFor(*info, IdnField(idn, 1));
        id.vendorId = ids.vendorId;
        id.productId = ids.productId;
    }
    id.manufacturer = IdnField(idn, 0);
    id.product = IdnField(idn, 1);
    id.serialNumber = IdnField(idn, 2);
    // A USB serial number names one unit; "0" (as some *IDN? replies have)
    // or nothing would not.
    if (id.serialNumber.empty() || id.serialNumber == "0" ||
        id.serialNumber.find_first_of(":") != std::string::npos)
        id.serialNumber = "QVSIM00001";
    id.fullSpeed = fullSpeed;
    return id;
}

visa::usbip::ExportedDevice ExportedDeviceFor(const UsbIdentity& identity) {
    visa::usbip::ExportedDevice d;
    d.path = "/sys/devices/platform/quarvel-sim/usb1/1-1";
    d.busId = "1-1";
    d.busNum = 1;
    d.devNum = 2;
    d.speed = identity.fullSpeed ? visa::usbip::kSpeedFull : visa::usbip::kSpeedHigh;
    d.vendorId = identity.vendorId;
    d.productId = identity.productId;
    d.bcdDevice = 0x0100;
    d.configurationValue = 1;
    d.numConfigurations = 1;
    d.numInterfaces = 1;
    d.interfaces = {{tmc::kInterfaceClass, tmc::kInterfaceSubClass, tmc::kProtocolUsb488}};
    return d;
}

SimUsbDevice::SimUsbDevice(const UsbIdentity& identity, SimInstrument& instrument,
                           Transcript* transcript, const FaultOptions& faults,
                           const UsbOptions& options)
    : m_identity(identity), m_hasInterrupt(!options.noInterruptEndpoint),
      m_bulkPacketSize(identity.fullSpeed ? kFullSpeedBulkPacket : kHighSpeedBulkPacket),
      m_function(instrument, transcript, faults, options, m_bulkPacketSize, kInterfaceNumber) {
    usb::DeviceDescriptor device;
    device.bcdUsb = 0x0200;
    device.maxPacketSize0 = 64;
    device.vendorId = identity.vendorId;
    device.productId = identity.productId;
    device.bcdDevice = 0x0100;
    device.manufacturerIndex = kStringManufacturer;
    device.productIndex = kStringProduct;
    device.serialNumberIndex = kStringSerial;
    m_deviceDescriptor = usb::EncodeDeviceDescriptor(device);
    usb::ConfigurationDescriptor config;
    usb::InterfaceDescriptor tmcInterface;
    tmcInterface.number = kInterfaceNumber;
    tmcInterface.interfaceClass = tmc::kInterfaceClass;
    tmcInterface.interfaceSubClass = tmc::kInterfaceSubClass;
    tmcInterface.interfaceProtocol = tmc::kProtocolUsb488;
    tmcInterface.endpoints = {
        {kBulkOut, usb::kTransferBulk, m_bulkPacketSize, 0},
        {kBulkIn, usb::kTransferBulk, m_bulkPacketSize, 0},
    };
    if (m_hasInterrupt)
        tmcInterface.endpoints.push_back({kInterruptIn, usb::kTransferInterrupt,
                                          kInterruptPacketSize,
                                          static_cast<std::uint8_t>(identity.fullSpeed ? 10 : 4)});
    config.interfaces.push_back(tmcInterface);
    m_configuration = usb::EncodeConfigurationDescriptor(config);
}

std::uint16_t SimUsbDevice::PacketSize(std::uint8_t endpoint) const {
    return endpoint == kInterruptIn ? kInterruptPacketSize : m_bulkPacketSize;
}

bool& SimUsbDevice::Halted(std::uint8_t endpoint) {
    if (endpoint == kBulkOut)
        return m_bulkOutHalted;
    if (endpoint == kBulkIn)
        return m_bulkInHalted;
    return m_interruptHalted;
}

bool SimUsbDevice::Control(const std::array<std::uint8_t, 8>& setup, usb::ByteView /*outData*/,
                           UsbBytes& reply) {
    reply.clear();
    const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
    const std::uint16_t index = static_cast<std::uint16_t>(setup[4] | setup[5] << 8);
    const std::uint16_t length = static_cast<std::uint16_t>(setup[6] | setup[7] << 8);
    bool ok = false;
    if ((setup[0] & kTypeMask) == kTypeStandard)
        ok = StandardRequest(setup, reply);
    else if ((setup[0] & kTypeMask) == kTypeClass)
        ok = m_function.ClassRequest(setup[1], value, index, reply);
    if (reply.size() > length)
        reply.resize(length);
    return ok;
}

bool SimUsbDevice::StandardRequest(const std::array<std::uint8_t, 8>& setup, UsbBytes& reply) {
    const std::uint8_t request = setup[1];
    const std::uint16_t value = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
    const std::uint16_t index = static_cast<std::uint16_t>(setup[4] | setup[5] << 8);
    switch (request) {
    case usb::kRequestGetDescriptor: {
        const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
        const std::uint8_t which = static_cast<std::uint8_t>(value);
        if (type == usb::kDescriptorDevice)
            reply = m_deviceDescriptor;
        else if (type == usb::kDescriptorConfiguration && which == 0)
            reply = m_configuration;
        else if (type == usb::kDescriptorString && which == 0)
            reply = usb::EncodeLanguageIds(std::array{usb::kLanguageEnglishUs});
        else if (type == usb::kDescriptorString && which == kStringManufacturer)
            reply = usb::EncodeStringDescriptor(m_identity.manufacturer);
        else if (type == usb::kDescriptorString && which == kStringProduct)
            reply = usb::EncodeStringDescriptor(m_identity.product);
        else if (type == usb::kDescriptorString && which == kStringSerial)
            reply = usb::EncodeStringDescriptor(m_identity.serialNumber);
        else
            return false;
        return true;
    }
    case usb::kRequestSetConfiguration:
        if (value > 1)
            return false;
        m_configurationValue = static_cast<std::uint8_t>(value);
        return true;
    case kGetConfiguration:
        reply = {m_configurationValue};
        return true;
    case kGetStatus:
        reply = {0, 0};
        if ((setup[0] & 0x1F) == 2) // endpoint: bit 0 is its halt
            reply[0] = Halted(static_cast<std::uint8_t>(index)) ? 1 : 0;
        return true;
    case usb::kRequestClearFeature:
    case kSetFeature:
        if ((setup[0] & 0x1F) == 2 && value == usb::kFeatureEndpointHalt) {
            const auto endpoint = static_cast<std::uint8_t>(index);
            if (endpoint != kBulkOut && endpoint != kBulkIn &&
                (endpoint != kInterruptIn || !m_hasInterrupt))
                return false;
            Halted(endpoint) = request == kSetFeature;
            return true;
        }
        return (setup[0] & 0x1F) == 0; // device remote wakeup and the like
    case kGetInterface:
        reply = {0};
        return index == kInterfaceNumber;
    case kSetInterface:
        return index == kInterfaceNumber && value == 0;
    default:
        return false;
    }
}

bool SimUsbDevice::Out(std::uint8_t endpoint, usb::ByteView data) {
    if (endpoint != (kBulkOut & 0x0F) || m_bulkOutHalted)
        return false;
    if (!m_function.BulkOut(data)) {
        // USBTMC: a malformed bulk-OUT header halts the endpoint.
        m_bulkOutHalted = true;
        return false;
    }
    return true;
}

bool SimUsbDevice::PeekIn(std::uint8_t endpoint, UsbBytes& packet, bool& halted) {
    halted = false;
    if (endpoint == kBulkIn) {
        halted = m_bulkInHalted;
        return !halted && m_function.PeekBulkIn(packet);
    }
    if (endpoint == kInterruptIn && m_hasInterrupt) {
        halted = m_interruptHalted;
        return !halted && m_function.PeekInterrupt(packet);
    }
    halted = true;
    return false;
}

void SimUsbDevice::PopIn(std::uint8_t endpoint) {
    if (endpoint == kBulkIn)
        m_function.PopBulkIn();
    else if (endpoint == kInterruptIn)
        m_function.PopInterrupt();
}

} // namespace quarvel::sim
