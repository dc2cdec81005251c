// Fuzzes the USB descriptor parser: device, configuration (interfaces,
// endpoints, class-specific descriptors in between), string and language
// descriptors. An accepted configuration encodes back to one that parses
// to the same interfaces and endpoints.

#include "codec/usb_descriptors.h"

#include <cstdint>
#include <cstdlib>

namespace usb = quarvel::visa::usb;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const usb::ByteView input(data, size);
    usb::DeviceDescriptor device;
    if (usb::ParseDeviceDescriptor(input, device) &&
        usb::EncodeDeviceDescriptor(device) != usb::Bytes(data, data + usb::kDeviceDescriptorSize))
        std::abort();
    usb::ConfigurationDescriptor config;
    if (usb::ParseConfigurationDescriptor(input, config)) {
        usb::ConfigurationDescriptor again;
        if (!usb::ParseConfigurationDescriptor(usb::EncodeConfigurationDescriptor(config), again) ||
            again.interfaces.size() != config.interfaces.size())
            std::abort();
        for (std::size_t i = 0; i < config.interfaces.size(); ++i)
            if (again.interfaces[i].endpoints.size() != config.interfaces[i].endpoints.size())
                std::abort();
    }
    std::string text;
    if (usb::ParseStringDescriptor(input, text) && text.size() > 4 * 127)
        std::abort();
    std::vector<std::uint16_t> languages;
    usb::ParseLanguageIds(input, languages);
    return 0;
}
