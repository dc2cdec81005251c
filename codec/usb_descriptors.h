#pragma once

// Standard USB descriptors (USB 2.0 chapter 9) as a USBTMC host reads them
// and as the simulated device serves them: one strict, bounded parser for
// the device, configuration (with its interfaces and endpoints) and string
// descriptors, and the encoders the simulator uses. Class-specific and
// unknown descriptors inside a configuration are skipped by their length.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::visa::usb {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

constexpr std::uint8_t kDescriptorDevice = 1;
constexpr std::uint8_t kDescriptorConfiguration = 2;
constexpr std::uint8_t kDescriptorString = 3;
constexpr std::uint8_t kDescriptorInterface = 4;
constexpr std::uint8_t kDescriptorEndpoint = 5;

constexpr std::size_t kDeviceDescriptorSize = 18;
constexpr std::size_t kConfigurationHeaderSize = 9;
// wTotalLength is 16 bits: no configuration is larger.
constexpr std::size_t kMaxConfigurationSize = 0xFFFF;
// A string descriptor holds at most 126 UTF-16 code units.
constexpr std::size_t kMaxStringDescriptorSize = 255;
// English (United States), the language every instrument offers.
constexpr std::uint16_t kLanguageEnglishUs = 0x0409;

// Standard requests (bRequest) and the endpoint halt feature.
constexpr std::uint8_t kRequestClearFeature = 1;
constexpr std::uint8_t kRequestGetDescriptor = 6;
constexpr std::uint8_t kRequestSetConfiguration = 9;
constexpr std::uint16_t kFeatureEndpointHalt = 0;

constexpr std::uint8_t kEndpointDirIn = 0x80;
constexpr std::uint8_t kTransferTypeMask = 0x03;
constexpr std::uint8_t kTransferBulk = 0x02;
constexpr std::uint8_t kTransferInterrupt = 0x03;

struct DeviceDescriptor {
    std::uint16_t bcdUsb = 0x0200;
    std::uint8_t deviceClass = 0;
    std::uint8_t deviceSubClass = 0;
    std::uint8_t deviceProtocol = 0;
    std::uint8_t maxPacketSize0 = 64;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t manufacturerIndex = 0;
    std::uint8_t productIndex = 0;
    std::uint8_t serialNumberIndex = 0;
    std::uint8_t numConfigurations = 1;
};

struct EndpointDescriptor {
    std::uint8_t address = 0; // bit 7: IN
    std::uint8_t attributes = 0;
    std::uint16_t maxPacketSize = 0;
    std::uint8_t interval = 0;

    bool IsIn() const { return (address & kEndpointDirIn) != 0; }
    std::uint8_t TransferType() const { return attributes & kTransferTypeMask; }
};

struct InterfaceDescriptor {
    std::uint8_t number = 0;
    std::uint8_t alternateSetting = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceSubClass = 0;
    std::uint8_t interfaceProtocol = 0;
    std::uint8_t stringIndex = 0;
    std::vector<EndpointDescriptor> endpoints;
};

struct ConfigurationDescriptor {
    std::uint8_t value = 1;
    std::uint8_t stringIndex = 0;
    std::uint8_t attributes = 0x80; // bus powered
    std::uint8_t maxPower = 50;     // in 2 mA units
    std::vector<InterfaceDescriptor> interfaces;
};

bool ParseDeviceDescriptor(ByteView data, DeviceDescriptor& device);
// The whole configuration (wTotalLength bytes): every interface descriptor
// with the endpoint descriptors that follow it. False for a truncated or
// inconsistent descriptor (a length below 2 or running past the end, more
// endpoints than announced).
bool ParseConfigurationDescriptor(ByteView data, ConfigurationDescriptor& configuration);
// wTotalLength from the first 9 bytes of a configuration descriptor.
bool ConfigurationTotalLength(ByteView header, std::size_t& totalLength);
// A string descriptor's UTF-16LE text as UTF-8 (unpaired surrogates become
// '?'). Serial numbers are ASCII on every instrument known.
bool ParseStringDescriptor(ByteView data, std::string& text);
// String descriptor 0: the language IDs offered.
bool ParseLanguageIds(ByteView data, std::vector<std::uint16_t>& languages);

Bytes EncodeDeviceDescriptor(const DeviceDescriptor& device);
Bytes EncodeConfigurationDescriptor(const ConfigurationDescriptor& configuration);
// Text as UTF-16LE, cut to the 126 code units a descriptor holds; bytes
// outside ASCII become '?'.
Bytes EncodeStringDescriptor(std::string_view text);
Bytes EncodeLanguageIds(std::span<const std::uint16_t> languages);

} // namespace quarvel::visa::usb
