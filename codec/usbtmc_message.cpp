#include "codec/usbtmc_message.h"

namespace quarvel::visa::usbtmc {

namespace {

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void EncodeCommon(std::uint8_t msgId, std::uint8_t tag, std::uint32_t transferSize,
                  std::uint8_t attributes, std::uint8_t* header) {
    header[0] = msgId;
    header[1] = tag;
    header[2] = static_cast<std::uint8_t>(~tag);
    header[3] = 0;
    PutLe32(header + 4, transferSize);
    header[8] = attributes;
    header[9] = header[10] = header[11] = 0;
}

bool TagValid(ByteView data) {
    return data[1] != 0 && data[2] == static_cast<std::uint8_t>(~data[1]);
}

} // namespace

std::uint8_t NextTag(std::uint8_t tag) {
    return tag >= 255 ? 1 : static_cast<std::uint8_t>(tag + 1);
}

std::size_t PaddedSize(std::size_t size) {
    return (size + 3) & ~std::size_t{3};
}

void EncodeDevDepMsgOut(std::uint8_t tag, std::uint32_t transferSize, bool eom,
                        std::uint8_t header[kHeaderSize]) {
    EncodeCommon(kDevDepMsgOut, tag, transferSize, eom ? kAttrEom : 0, header);
}

void EncodeRequestDevDepMsgIn(std::uint8_t tag, std::uint32_t transferSize, bool termCharEnabled,
                              std::uint8_t termChar, std::uint8_t header[kHeaderSize]) {
    EncodeCommon(kRequestDevDepMsgIn, tag, transferSize, termCharEnabled ? kAttrTermCharEnabled : 0,
                 header);
    header[9] = termCharEnabled ? termChar : 0;
}

void EncodeDevDepMsgIn(std::uint8_t tag, std::uint32_t transferSize, bool eom, bool termCharHit,
                       std::uint8_t header[kHeaderSize]) {
    EncodeCommon(
        kDevDepMsgIn, tag, transferSize,
        static_cast<std::uint8_t>((eom ? kAttrEom : 0) | (termCharHit ? kAttrTermCharHit : 0)),
        header);
}

bool DecodeBulkOutHeader(ByteView data, BulkOutHeader& header) {
    if (data.size() < kHeaderSize || !TagValid(data) || data[3] != 0)
        return false;
    BulkOutHeader h;
    h.msgId = data[0];
    h.tag = data[1];
    h.transferSize = Le32(&data[4]);
    h.attributes = data[8];
    switch (h.msgId) {
    case kDevDepMsgOut:
        if ((h.attributes & ~kAttrEom) != 0)
            return false;
        break;
    case kRequestDevDepMsgIn:
        if ((h.attributes & ~kAttrTermCharEnabled) != 0)
            return false;
        h.termChar = data[9];
        break;
    case kVendorSpecificOut:
    case kRequestVendorSpecificIn:
        break;
    case kUsb488Trigger:
        h.transferSize = 0; // the fields after the tag are reserved
        h.attributes = 0;
        break;
    default:
        return false;
    }
    header = h;
    return true;
}

bool DecodeBulkInHeader(ByteView data, BulkInHeader& header) {
    if (data.size() < kHeaderSize || !TagValid(data) || data[3] != 0)
        return false;
    if (data[0] != kDevDepMsgIn && data[0] != kVendorSpecificIn)
        return false;
    BulkInHeader h;
    h.msgId = data[0];
    h.tag = data[1];
    h.transferSize = Le32(&data[4]);
    h.attributes = h.msgId == kDevDepMsgIn ? static_cast<std::uint8_t>(data[8] & 0x03) : 0;
    header = h;
    return true;
}

bool DecodeCapabilities(ByteView data, Capabilities& capabilities) {
    if (data.size() < kCapabilitiesSize)
        return false;
    Capabilities c;
    c.status = data[0];
    c.bcdUsbtmc = static_cast<std::uint16_t>(data[2] | data[3] << 8);
    c.interfaceCapabilities = data[4];
    c.deviceCapabilities = data[5];
    c.bcdUsb488 = static_cast<std::uint16_t>(data[12] | data[13] << 8);
    c.usb488InterfaceCapabilities = data[14];
    c.usb488DeviceCapabilities = data[15];
    if (c.status != kStatusSuccess)
        return false;
    capabilities = c;
    return true;
}

Bytes EncodeCapabilities(const Capabilities& c) {
    Bytes out(kCapabilitiesSize, 0);
    out[0] = c.status;
    out[2] = static_cast<std::uint8_t>(c.bcdUsbtmc);
    out[3] = static_cast<std::uint8_t>(c.bcdUsbtmc >> 8);
    out[4] = c.interfaceCapabilities;
    out[5] = c.deviceCapabilities;
    out[12] = static_cast<std::uint8_t>(c.bcdUsb488);
    out[13] = static_cast<std::uint8_t>(c.bcdUsb488 >> 8);
    out[14] = c.usb488InterfaceCapabilities;
    out[15] = c.usb488DeviceCapabilities;
    return out;
}

bool DecodeAbortStatus(ByteView data, AbortStatus& status) {
    if (data.size() < kCheckAbortReplySize)
        return false;
    status.status = data[0];
    status.dataInFifo = (data[1] & 0x01) != 0;
    status.bytesTransferred = Le32(&data[4]);
    return true;
}

std::uint8_t NextStatusByteTag(std::uint8_t tag) {
    return tag < 2 || tag >= 127 ? 2 : static_cast<std::uint8_t>(tag + 1);
}

bool DecodeStatusByteReply(ByteView data, StatusByteReply& reply) {
    if (data.size() < kReadStatusByteReplySize)
        return false;
    reply.status = data[0];
    reply.tag = data[1];
    reply.statusByte = data[2];
    return true;
}

Bytes EncodeStatusByteReply(const StatusByteReply& reply) {
    return {reply.status, reply.tag, reply.statusByte};
}

bool DecodeStatusByteNotification(ByteView data, std::uint8_t& tag, std::uint8_t& statusByte) {
    // Tags 0 and 1 are not READ_STATUS_BYTE's (1 is an SRQ).
    if (data.size() < 2 || (data[0] & 0x80) == 0 || (data[0] & 0x7F) < 2)
        return false;
    tag = data[0] & 0x7F;
    statusByte = data[1];
    return true;
}

Bytes EncodeStatusByteNotification(std::uint8_t tag, std::uint8_t statusByte) {
    return {static_cast<std::uint8_t>(0x80 | (tag & 0x7F)), statusByte};
}

Bytes EncodeAbortStatus(const AbortStatus& status) {
    Bytes out(kCheckAbortReplySize, 0);
    out[0] = status.status;
    out[1] = status.dataInFifo ? 1 : 0;
    PutLe32(out.data() + 4, status.bytesTransferred);
    return out;
}

} // namespace quarvel::visa::usbtmc
