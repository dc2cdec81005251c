#include "codec/usb_descriptors.h"

#include <algorithm>

namespace quarvel::visa::usb {

namespace {

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// push_back one by one: GCC 12 warns falsely about vector::insert of an
// initializer list into a vector this small.
void Put(Bytes& out, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes)
        out.push_back(b);
}

void PutLe16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

bool ParseDeviceDescriptor(ByteView data, DeviceDescriptor& device) {
    if (data.size() < kDeviceDescriptorSize || data[0] != kDeviceDescriptorSize ||
        data[1] != kDescriptorDevice)
        return false;
    DeviceDescriptor d;
    d.bcdUsb = Le16(&data[2]);
    d.deviceClass = data[4];
    d.deviceSubClass = data[5];
    d.deviceProtocol = data[6];
    d.maxPacketSize0 = data[7];
    d.vendorId = Le16(&data[8]);
    d.productId = Le16(&data[10]);
    d.bcdDevice = Le16(&data[12]);
    d.manufacturerIndex = data[14];
    d.productIndex = data[15];
    d.serialNumberIndex = data[16];
    d.numConfigurations = data[17];
    device = d;
    return true;
}

bool ConfigurationTotalLength(ByteView header, std::size_t& totalLength) {
    if (header.size() < kConfigurationHeaderSize || header[0] < kConfigurationHeaderSize ||
        header[1] != kDescriptorConfiguration)
        return false;
    totalLength = Le16(&header[2]);
    return totalLength >= kConfigurationHeaderSize;
}

bool ParseConfigurationDescriptor(ByteView data, ConfigurationDescriptor& configuration) {
    std::size_t total = 0;
    if (!ConfigurationTotalLength(data, total) || total > data.size())
        return false;
    data = data.first(total);
    ConfigurationDescriptor c;
    const std::uint8_t numInterfaces = data[4];
    c.value = data[5];
    c.stringIndex = data[6];
    c.attributes = data[7];
    c.maxPower = data[8];
    std::size_t expectedEndpoints = 0;
    for (std::size_t pos = data[0]; pos < data.size();) {
        const std::size_t length = data[pos];
        if (length < 2 || length > data.size() - pos)
            return false;
        const std::uint8_t* d = &data[pos];
        if (d[1] == kDescriptorInterface) {
            if (length < 9 || expectedEndpoints != 0)
                return false;
            InterfaceDescriptor i;
            i.number = d[2];
            i.alternateSetting = d[3];
            expectedEndpoints = d[4];
            i.interfaceClass = d[5];
            i.interfaceSubClass = d[6];
            i.interfaceProtocol = d[7];
            i.stringIndex = d[8];
            c.interfaces.push_back(std::move(i));
        } else if (d[1] == kDescriptorEndpoint) {
            if (length < 7 || c.interfaces.empty() || expectedEndpoints == 0)
                return false;
            EndpointDescriptor e;
            e.address = d[2];
            e.attributes = d[3];
            e.maxPacketSize = static_cast<std::uint16_t>(Le16(&d[4]) & 0x07FF);
            e.interval = d[6];
            c.interfaces.back().endpoints.push_back(e);
            --expectedEndpoints;
        }
        pos += length;
    }
    // Alternate settings repeat an interface number; count distinct numbers.
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < c.interfaces.size(); ++i)
        if (c.interfaces[i].alternateSetting == 0)
            ++distinct;
    if (expectedEndpoints != 0 || distinct != numInterfaces)
        return false;
    configuration = std::move(c);
    return true;
}

bool ParseStringDescriptor(ByteView data, std::string& text) {
    if (data.size() < 2 || data[1] != kDescriptorString || data[0] < 2 || data[0] > data.size() ||
        data[0] % 2 != 0)
        return false;
    std::string out;
    const std::size_t units = (data[0] - 2) / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = Le16(&data[2 + 2 * i]);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            const std::uint32_t low = Le16(&data[2 + 2 * (i + 1)]);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u < 0xE000)
            out += '?';
        else
            AppendUtf8(out, u);
    }
    text = std::move(out);
    return true;
}

bool ParseLanguageIds(ByteView data, std::vector<std::uint16_t>& languages) {
    if (data.size() < 2 || data[1] != kDescriptorString || data[0] < 2 || data[0] > data.size() ||
        data[0] % 2 != 0)
        return false;
    languages.clear();
    for (std::size_t pos = 2; pos + 1 < data[0]; pos += 2)
        languages.push_back(Le16(&data[pos]));
    return true;
}

Bytes EncodeDeviceDescriptor(const DeviceDescriptor& d) {
    Bytes out = {static_cast<std::uint8_t>(kDeviceDescriptorSize), kDescriptorDevice};
    PutLe16(out, d.bcdUsb);
    Put(out, {d.deviceClass, d.deviceSubClass, d.deviceProtocol, d.maxPacketSize0});
    PutLe16(out, d.vendorId);
    PutLe16(out, d.productId);
    PutLe16(out, d.bcdDevice);
    Put(out, {d.manufacturerIndex, d.productIndex, d.serialNumberIndex, d.numConfigurations});
    return out;
}

Bytes EncodeConfigurationDescriptor(const ConfigurationDescriptor& c) {
    Bytes out = {static_cast<std::uint8_t>(kConfigurationHeaderSize), kDescriptorConfiguration, 0,
                 0};
    std::uint8_t numInterfaces = 0;
    for (const InterfaceDescriptor& i : c.interfaces)
        if (i.alternateSetting == 0)
            ++numInterfaces;
    Put(out, {numInterfaces, c.value, c.stringIndex, c.attributes, c.maxPower});
    for (const InterfaceDescriptor& i : c.interfaces) {
        Put(out, {9, kDescriptorInterface, i.number, i.alternateSetting,
                  static_cast<std::uint8_t>(i.endpoints.size()), i.interfaceClass,
                  i.interfaceSubClass, i.interfaceProtocol, i.stringIndex});
        for (const EndpointDescriptor& e : i.endpoints) {
            Put(out, {7, kDescriptorEndpoint, e.address, e.attributes});
            PutLe16(out, e.maxPacketSize);
            out.push_back(e.interval);
        }
    }
    out[2] = static_cast<std::uint8_t>(out.size() & 0xFF);
    out[3] = static_cast<std::uint8_t>(out.size() >> 8);
    return out;
}

Bytes EncodeStringDescriptor(std::string_view text) {
    const std::size_t units =
        std::min<std::size_t>(text.size(), (kMaxStringDescriptorSize - 2) / 2);
    Bytes out = {static_cast<std::uint8_t>(2 + 2 * units), kDescriptorString};
    for (std::size_t i = 0; i < units; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        PutLe16(out, c < 0x80 ? c : '?');
    }
    return out;
}

Bytes EncodeLanguageIds(std::span<const std::uint16_t> languages) {
    const std::size_t count = std::min<std::size_t>(languages.size(), 126);
    Bytes out = {static_cast<std::uint8_t>(2 + 2 * count), kDescriptorString};
    for (std::size_t i = 0; i < count; ++i)
        PutLe16(out, languages[i]);
    return out;
}

} // namespace quarvel::visa::usb
