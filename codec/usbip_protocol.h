#pragma once

// The USB/IP wire protocol (Linux Documentation/usb/usbip_protocol.rst) as
// Quarvel's client host side and the simulator's server both speak it: the
// operation messages (OP_REQ/REP_DEVLIST, OP_REQ/REP_IMPORT) and the URB
// messages that follow an import (USBIP_CMD_SUBMIT, USBIP_RET_SUBMIT,
// USBIP_CMD_UNLINK, USBIP_RET_UNLINK). Every field is big-endian.
//
// Decoders work on fixed-size pieces that the caller has read whole; they
// check what they can (version, codes, NUL-terminated strings, lengths
// against the caller's limits) and never read past their input.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quarvel::visa::usbip {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

constexpr std::uint16_t kVersion = 0x0111;
constexpr std::uint16_t kOpReqDevlist = 0x8005;
constexpr std::uint16_t kOpRepDevlist = 0x0005;
constexpr std::uint16_t kOpReqImport = 0x8003;
constexpr std::uint16_t kOpRepImport = 0x0003;
// Operation status: 0 OK, 1 not available, 2 busy, 3 error (tools' codes).
// OP_REP_IMPORT statuses (Linux tools/usb/usbip, usbip_common.h: ST_OK,
// ST_NA, ST_DEV_BUSY, ST_DEV_ERR, ST_NODEV). usbipd answers ST_DEV_BUSY for a
// device another importer holds and ST_NODEV for an unknown bus ID.
constexpr std::uint32_t kStatusOk = 0;
constexpr std::uint32_t kStatusNotAvailable = 1;
constexpr std::uint32_t kStatusDeviceBusy = 2;
constexpr std::uint32_t kStatusDeviceError = 3;
constexpr std::uint32_t kStatusNoDevice = 4;

constexpr std::uint32_t kCmdSubmit = 1;
constexpr std::uint32_t kCmdUnlink = 2;
constexpr std::uint32_t kRetSubmit = 3;
constexpr std::uint32_t kRetUnlink = 4;
constexpr std::uint32_t kDirOut = 0;
constexpr std::uint32_t kDirIn = 1;

// Linux's enum usb_device_speed.
constexpr std::uint32_t kSpeedFull = 2;
constexpr std::uint32_t kSpeedHigh = 3;

// URB status values are negative Linux errno values.
constexpr std::int32_t kUrbStall = -32;     // -EPIPE
constexpr std::int32_t kUrbOverflow = -75;  // -EOVERFLOW
constexpr std::int32_t kUrbUnlinked = -104; // -ECONNRESET
constexpr std::int32_t kUrbShutdown = -108; // -ESHUTDOWN

constexpr std::size_t kOpHeaderSize = 8;
constexpr std::size_t kPathSize = 256;
constexpr std::size_t kBusIdSize = 32;
constexpr std::size_t kDeviceSize = 312;
constexpr std::size_t kInterfaceSize = 4;
constexpr std::size_t kUrbHeaderSize = 48;
// More interfaces than a configuration can hold is a broken reply.
constexpr std::size_t kMaxInterfaces = 32;
// A devlist longer than this is not believed.
constexpr std::uint32_t kMaxDevices = 1024;

struct OpHeader {
    std::uint16_t version = kVersion;
    std::uint16_t code = 0;
    std::uint32_t status = 0;
};

struct ExportedInterface {
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceSubClass = 0;
    std::uint8_t interfaceProtocol = 0;
};

struct ExportedDevice {
    std::string path;
    std::string busId;
    std::uint32_t busNum = 0;
    std::uint32_t devNum = 0;
    std::uint32_t speed = kSpeedHigh;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t deviceClass = 0;
    std::uint8_t deviceSubClass = 0;
    std::uint8_t deviceProtocol = 0;
    std::uint8_t configurationValue = 1;
    std::uint8_t numConfigurations = 1;
    std::uint8_t numInterfaces = 0;
    // Filled from the devlist only (an import reply carries none).
    std::vector<ExportedInterface> interfaces;

    std::uint32_t DevId() const { return busNum << 16 | (devNum & 0xFFFF); }
};

void AppendOpHeader(Bytes& out, std::uint16_t code, std::uint32_t status);
// Checks the version; the caller checks the code it expects.
bool DecodeOpHeader(ByteView data, OpHeader& header);

// The device block (without its interfaces, which AppendInterfaces adds).
void AppendDevice(Bytes& out, const ExportedDevice& device);
void AppendInterfaces(Bytes& out, const ExportedDevice& device);
bool DecodeDevice(ByteView data, ExportedDevice& device);
bool DecodeInterface(ByteView data, ExportedInterface& interface);

// OP_REQ_IMPORT carries the bus ID in 32 bytes after the header.
void AppendImportRequest(Bytes& out, const std::string& busId);
bool DecodeBusId(ByteView data, std::string& busId);

// The 48-byte URB header, the fields of all four commands.
struct UrbHeader {
    std::uint32_t command = 0;
    std::uint32_t seqnum = 0;
    std::uint32_t devid = 0;
    std::uint32_t direction = 0;
    std::uint32_t endpoint = 0;
    // CMD_SUBMIT
    std::uint32_t transferFlags = 0;
    std::uint32_t transferLength = 0;
    std::uint32_t interval = 0;
    std::array<std::uint8_t, 8> setup{};
    // RET_SUBMIT and RET_UNLINK
    std::int32_t status = 0;
    std::uint32_t actualLength = 0;
    // CMD_UNLINK
    std::uint32_t unlinkSeqnum = 0;
};

void AppendCmdSubmit(Bytes& out, const UrbHeader& urb);
void AppendRetSubmit(Bytes& out, const UrbHeader& urb);
void AppendCmdUnlink(Bytes& out, const UrbHeader& urb);
void AppendRetUnlink(Bytes& out, const UrbHeader& urb);
// Any of the four; false for an unknown command, a direction other than 0
// or 1, an endpoint over 15, or isochronous packets (not supported).
bool DecodeUrbHeader(ByteView data, UrbHeader& urb);

} // namespace quarvel::visa::usbip
