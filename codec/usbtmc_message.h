#pragma once

// The USBTMC and USB488 message layer (USB-IF USBTMC 1.0 and USBTMC-USB488
// 1.0) as the host and the simulated device both speak it: the 12-byte
// bulk headers, the class-specific control requests and their replies.
// Decoders are strict: a header is taken only with its bTag inverse
// matching, a known MsgID and its reserved bytes as the class demands.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quarvel::visa::usbtmc {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Interface class, subclass and protocols.
constexpr std::uint8_t kInterfaceClass = 0xFE;
constexpr std::uint8_t kInterfaceSubClass = 0x03;
constexpr std::uint8_t kProtocolUsbtmc = 0;
constexpr std::uint8_t kProtocolUsb488 = 1;

// Bulk message IDs.
constexpr std::uint8_t kDevDepMsgOut = 1;
constexpr std::uint8_t kRequestDevDepMsgIn = 2;
constexpr std::uint8_t kDevDepMsgIn = 2;
constexpr std::uint8_t kVendorSpecificOut = 126;
constexpr std::uint8_t kRequestVendorSpecificIn = 127;
constexpr std::uint8_t kVendorSpecificIn = 127;
constexpr std::uint8_t kUsb488Trigger = 128;

constexpr std::size_t kHeaderSize = 12;
// bmTransferAttributes bits.
constexpr std::uint8_t kAttrEom = 0x01;             // DEV_DEP_MSG_OUT/IN: last transfer
constexpr std::uint8_t kAttrTermCharEnabled = 0x02; // REQUEST_DEV_DEP_MSG_IN
constexpr std::uint8_t kAttrTermCharHit = 0x02;     // DEV_DEP_MSG_IN: ended by TermChar

// Class requests (bRequest).
constexpr std::uint8_t kInitiateAbortBulkOut = 1;
constexpr std::uint8_t kCheckAbortBulkOutStatus = 2;
constexpr std::uint8_t kInitiateAbortBulkIn = 3;
constexpr std::uint8_t kCheckAbortBulkInStatus = 4;
constexpr std::uint8_t kInitiateClear = 5;
constexpr std::uint8_t kCheckClearStatus = 6;
constexpr std::uint8_t kGetCapabilities = 7;
constexpr std::uint8_t kIndicatorPulse = 64;
constexpr std::uint8_t kReadStatusByte = 128;
constexpr std::uint8_t kRenControl = 160;
constexpr std::uint8_t kGoToLocal = 161;
constexpr std::uint8_t kLocalLockout = 162;

// bmRequestType of class requests: device-to-host, class, to the interface
// or to an endpoint.
constexpr std::uint8_t kRequestTypeInterfaceIn = 0xA1;
constexpr std::uint8_t kRequestTypeEndpointIn = 0xA2;

// USBTMC_status values.
constexpr std::uint8_t kStatusSuccess = 0x01;
constexpr std::uint8_t kStatusPending = 0x02;
constexpr std::uint8_t kStatusFailed = 0x80;
constexpr std::uint8_t kStatusTransferNotInProgress = 0x81;
constexpr std::uint8_t kStatusSplitNotInProgress = 0x82;
constexpr std::uint8_t kStatusSplitInProgress = 0x83;

// Reply lengths of the class requests.
constexpr std::uint16_t kInitiateAbortReplySize = 2;
constexpr std::uint16_t kCheckAbortReplySize = 8;
constexpr std::uint16_t kInitiateClearReplySize = 1;
constexpr std::uint16_t kCheckClearReplySize = 2;
constexpr std::uint16_t kCapabilitiesSize = 0x18;
constexpr std::uint16_t kReadStatusByteReplySize = 3;

// bTag runs 1..255 and never 0.
std::uint8_t NextTag(std::uint8_t tag);
// Data padded to the 4-byte alignment every bulk transfer keeps.
std::size_t PaddedSize(std::size_t size);

// A bulk-OUT header as the device decodes it.
struct BulkOutHeader {
    std::uint8_t msgId = 0;
    std::uint8_t tag = 0;
    std::uint32_t transferSize = 0;
    std::uint8_t attributes = 0;
    std::uint8_t termChar = 0; // REQUEST_DEV_DEP_MSG_IN only

    bool Eom() const { return (attributes & kAttrEom) != 0; }
    bool TermCharEnabled() const { return (attributes & kAttrTermCharEnabled) != 0; }
};

// A bulk-IN header as the host decodes it.
struct BulkInHeader {
    std::uint8_t msgId = 0;
    std::uint8_t tag = 0;
    std::uint32_t transferSize = 0;
    std::uint8_t attributes = 0;

    bool Eom() const { return (attributes & kAttrEom) != 0; }
    bool TermCharHit() const { return (attributes & kAttrTermCharHit) != 0; }
};

void EncodeDevDepMsgOut(std::uint8_t tag, std::uint32_t transferSize, bool eom,
                        std::uint8_t header[kHeaderSize]);
void EncodeRequestDevDepMsgIn(std::uint8_t tag, std::uint32_t transferSize, bool termCharEnabled,
                              std::uint8_t termChar, std::uint8_t header[kHeaderSize]);
void EncodeDevDepMsgIn(std::uint8_t tag, std::uint32_t transferSize, bool eom, bool termCharHit,
                       std::uint8_t header[kHeaderSize]);

// Device side: any of the bulk-OUT messages (DEV_DEP_MSG_OUT,
// REQUEST_DEV_DEP_MSG_IN, vendor specific, TRIGGER).
bool DecodeBulkOutHeader(ByteView data, BulkOutHeader& header);
// Host side: DEV_DEP_MSG_IN or VENDOR_SPECIFIC_IN.
bool DecodeBulkInHeader(ByteView data, BulkInHeader& header);

// GET_CAPABILITIES reply.
struct Capabilities {
    std::uint8_t status = kStatusSuccess;
    std::uint16_t bcdUsbtmc = 0x0100;
    std::uint8_t interfaceCapabilities =
        0;                               // bit2 indicator pulse, bit1 talk-only, bit0 listen-only
    std::uint8_t deviceCapabilities = 0; // bit0 TermChar supported
    std::uint16_t bcdUsb488 = 0;
    std::uint8_t usb488InterfaceCapabilities = 0; // bit2 488.2, bit1 REN_CONTROL.., bit0 TRIGGER
    std::uint8_t usb488DeviceCapabilities = 0;    // bit3 SCPI, bit2 SR1, bit1 RL1, bit0 DT1

    bool TermCharSupported() const { return (deviceCapabilities & 0x01) != 0; }
    bool RemoteLocalSupported() const { return (usb488InterfaceCapabilities & 0x02) != 0; }
};
bool DecodeCapabilities(ByteView data, Capabilities& capabilities);
Bytes EncodeCapabilities(const Capabilities& capabilities);

// CHECK_ABORT_BULK_IN_STATUS / CHECK_ABORT_BULK_OUT_STATUS reply.
struct AbortStatus {
    std::uint8_t status = 0;
    bool dataInFifo = false; // bulk-IN only: bmAbortBulkIn.D0
    std::uint32_t bytesTransferred = 0;
};
bool DecodeAbortStatus(ByteView data, AbortStatus& status);
Bytes EncodeAbortStatus(const AbortStatus& status);

// USB488 READ_STATUS_BYTE. Its bTag runs 2..127: the interrupt endpoint's
// notification carries it in seven bits, and 1 is the tag of SRQ
// notifications.
std::uint8_t NextStatusByteTag(std::uint8_t tag);
struct StatusByteReply {
    std::uint8_t status = 0;
    std::uint8_t tag = 0;
    std::uint8_t statusByte = 0; // only meaningful without an interrupt endpoint
};
bool DecodeStatusByteReply(ByteView data, StatusByteReply& reply);
Bytes EncodeStatusByteReply(const StatusByteReply& reply);
// The interrupt-IN notification that answers READ_STATUS_BYTE:
// bNotify1 = 0x80 | bTag, bNotify2 = the status byte. False for any other
// notification (SRQ, vendor specific).
bool DecodeStatusByteNotification(ByteView data, std::uint8_t& tag, std::uint8_t& statusByte);
Bytes EncodeStatusByteNotification(std::uint8_t tag, std::uint8_t statusByte);

} // namespace quarvel::visa::usbtmc
