#pragma once

// The USB/IP client: Quarvel's second USB host side. It lists what a USB/IP
// server exports and imports a device over TCP, then runs each transfer as
// one USBIP_CMD_SUBMIT and its USBIP_RET_SUBMIT, one at a time. A transfer
// that outlives its deadline is unlinked (USBIP_CMD_UNLINK) before the call
// returns. Nothing is attached to the kernel: the device lives in this
// process only.

#include "codec/usbip_protocol.h"
#include "visa/usb_device.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::visa::usbip {

// The port usbipd listens on.
constexpr std::uint16_t kDefaultPort = 3240;

struct ServerAddress {
    std::string host;
    std::uint16_t port = kDefaultPort;
};

// "host:port,host,[::1]:3240": comma-separated servers, the port optional.
// False (and nothing stored) when an entry is malformed.
bool ParseServerList(std::string_view text, std::vector<ServerAddress>& servers);

// OP_REQ_DEVLIST. VI_ERROR_RSRC_NFOUND when the server does not answer.
ViStatus ListDevices(const ServerAddress& server, Deadline deadline,
                     std::vector<ExportedDevice>& devices);

// OP_REQ_IMPORT of busId; VI_ERROR_RSRC_NFOUND when refused.
ViStatus ImportDevice(const ServerAddress& server, const std::string& busId, Deadline deadline,
                      std::unique_ptr<usb::IUsbDevice>& device);

} // namespace quarvel::visa::usbip
