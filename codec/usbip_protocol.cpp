#include "codec/usbip_protocol.h"

#include <algorithm>
#include <cstring>

namespace quarvel::visa::usbip {

namespace {

void Put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void Put32(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

void PutFixedString(Bytes& out, const std::string& text, std::size_t size) {
    const std::size_t n = std::min(text.size(), size - 1);
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    out.insert(out.end(), size - n, 0);
}

// A NUL-terminated string in a fixed field; false when the field has no NUL.
bool GetFixedString(const std::uint8_t* p, std::size_t size, std::string& text) {
    const void* nul = std::memchr(p, 0, size);
    if (nul == nullptr)
        return false;
    text.assign(reinterpret_cast<const char*>(p),
                static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p));
    return true;
}

void PutBasic(Bytes& out, const UrbHeader& urb, std::uint32_t command) {
    Put32(out, command);
    Put32(out, urb.seqnum);
    Put32(out, urb.devid);
    Put32(out, urb.direction);
    Put32(out, urb.endpoint);
}

} // namespace

void AppendOpHeader(Bytes& out, std::uint16_t code, std::uint32_t status) {
    Put16(out, kVersion);
    Put16(out, code);
    Put32(out, status);
}

bool DecodeOpHeader(ByteView data, OpHeader& header) {
    if (data.size() < kOpHeaderSize)
        return false;
    header.version = Get16(&data[0]);
    header.code = Get16(&data[2]);
    header.status = Get32(&data[4]);
    return header.version == kVersion;
}

void AppendDevice(Bytes& out, const ExportedDevice& d) {
    PutFixedString(out, d.path, kPathSize);
    PutFixedString(out, d.busId, kBusIdSize);
    Put32(out, d.busNum);
    Put32(out, d.devNum);
    Put32(out, d.speed);
    Put16(out, d.vendorId);
    Put16(out, d.productId);
    Put16(out, d.bcdDevice);
    out.insert(out.end(), {d.deviceClass, d.deviceSubClass, d.deviceProtocol, d.configurationValue,
                           d.numConfigurations, d.numInterfaces});
}

void AppendInterfaces(Bytes& out, const ExportedDevice& d) {
    for (const ExportedInterface& i : d.interfaces)
        out.insert(out.end(), {i.interfaceClass, i.interfaceSubClass, i.interfaceProtocol, 0});
}

bool DecodeDevice(ByteView data, ExportedDevice& device) {
    if (data.size() < kDeviceSize)
        return false;
    ExportedDevice d;
    const std::uint8_t* p = data.data();
    if (!GetFixedString(p, kPathSize, d.path) ||
        !GetFixedString(p + kPathSize, kBusIdSize, d.busId))
        return false;
    p += kPathSize + kBusIdSize;
    d.busNum = Get32(p);
    d.devNum = Get32(p + 4);
    d.speed = Get32(p + 8);
    d.vendorId = Get16(p + 12);
    d.productId = Get16(p + 14);
    d.bcdDevice = Get16(p + 16);
    d.deviceClass = p[18];
    d.deviceSubClass = p[19];
    d.deviceProtocol = p[20];
    d.configurationValue = p[21];
    d.numConfigurations = p[22];
    d.numInterfaces = p[23];
    if (d.busId.empty() || d.numInterfaces > kMaxInterfaces)
        return false;
    device = std::move(d);
    return true;
}

bool DecodeInterface(ByteView data, ExportedInterface& interface) {
    if (data.size() < kInterfaceSize)
        return false;
    interface = {data[0], data[1], data[2]};
    return true;
}

void AppendImportRequest(Bytes& out, const std::string& busId) {
    AppendOpHeader(out, kOpReqImport, kStatusOk);
    PutFixedString(out, busId, kBusIdSize);
}

bool DecodeBusId(ByteView data, std::string& busId) {
    return data.size() >= kBusIdSize && GetFixedString(data.data(), kBusIdSize, busId);
}

void AppendCmdSubmit(Bytes& out, const UrbHeader& urb) {
    PutBasic(out, urb, kCmdSubmit);
    Put32(out, urb.transferFlags);
    Put32(out, urb.transferLength);
    Put32(out, 0); // start_frame
    Put32(out, 0); // number_of_packets: not isochronous
    Put32(out, urb.interval);
    out.insert(out.end(), urb.setup.begin(), urb.setup.end());
}

void AppendRetSubmit(Bytes& out, const UrbHeader& urb) {
    UrbHeader basic = urb;
    basic.devid = basic.direction = basic.endpoint = 0; // the server sends them as 0
    PutBasic(out, basic, kRetSubmit);
    Put32(out, static_cast<std::uint32_t>(urb.status));
    Put32(out, urb.actualLength);
    Put32(out, 0); // start_frame
    Put32(out, 0); // number_of_packets
    Put32(out, 0); // error_count
    out.insert(out.end(), 8, 0);
}

void AppendCmdUnlink(Bytes& out, const UrbHeader& urb) {
    PutBasic(out, urb, kCmdUnlink);
    Put32(out, urb.unlinkSeqnum);
    out.insert(out.end(), 24, 0);
}

void AppendRetUnlink(Bytes& out, const UrbHeader& urb) {
    UrbHeader basic = urb;
    basic.devid = basic.direction = basic.endpoint = 0;
    PutBasic(out, basic, kRetUnlink);
    Put32(out, static_cast<std::uint32_t>(urb.status));
    out.insert(out.end(), 24, 0);
}

bool DecodeUrbHeader(ByteView data, UrbHeader& urb) {
    if (data.size() < kUrbHeaderSize)
        return false;
    const std::uint8_t* p = data.data();
    UrbHeader u;
    u.command = Get32(p);
    u.seqnum = Get32(p + 4);
    u.devid = Get32(p + 8);
    u.direction = Get32(p + 12);
    u.endpoint = Get32(p + 16);
    p += 20;
    switch (u.command) {
    case kCmdSubmit: {
        u.transferFlags = Get32(p);
        u.transferLength = Get32(p + 4);
        const std::uint32_t packets = Get32(p + 12);
        u.interval = Get32(p + 16);
        std::copy(p + 20, p + 28, u.setup.begin());
        // 0xFFFFFFFF is how newer kernels mark "not isochronous".
        if (packets != 0 && packets != 0xFFFFFFFFu)
            return false;
        if (u.direction > kDirIn || u.endpoint > 15)
            return false;
        break;
    }
    case kRetSubmit: {
        u.status = static_cast<std::int32_t>(Get32(p));
        u.actualLength = Get32(p + 4);
        const std::uint32_t packets = Get32(p + 12);
        if (packets != 0 && packets != 0xFFFFFFFFu)
            return false;
        break;
    }
    case kCmdUnlink:
        u.unlinkSeqnum = Get32(p);
        break;
    case kRetUnlink:
        u.status = static_cast<std::int32_t>(Get32(p));
        break;
    default:
        return false;
    }
    urb = u;
    return true;
}

} // namespace quarvel::visa::usbip
