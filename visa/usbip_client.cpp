#include "visa/usbip_client.h"

#include "visa/tcp_connection.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <thread>

namespace quarvel::visa::usbip {

namespace {

// Once the first byte of a message has arrived, the rest must follow within
// this time even when the caller's deadline has passed: a message left half
// read would leave the stream out of step.
constexpr auto kMessageGrace = std::chrono::seconds(5);
// How long an unlinked transfer may take to be confirmed.
constexpr auto kUnlinkGrace = std::chrono::seconds(2);
// The largest transfer data this client accepts in one RET_SUBMIT.
constexpr std::uint32_t kMaxTransfer = 32u * 1024u * 1024u;

Deadline WithGrace(Deadline deadline, std::chrono::steady_clock::duration grace) {
    const Deadline floor = std::chrono::steady_clock::now() + grace;
    return std::max(deadline, floor);
}

std::array<std::uint8_t, 8> SetupBytes(const usb::ControlSetup& s) {
    return {s.requestType,
            s.request,
            static_cast<std::uint8_t>(s.value),
            static_cast<std::uint8_t>(s.value >> 8),
            static_cast<std::uint8_t>(s.index),
            static_cast<std::uint8_t>(s.index >> 8),
            static_cast<std::uint8_t>(s.length),
            static_cast<std::uint8_t>(s.length >> 8)};
}

usb::UsbResult ResultOfUrbStatus(std::int32_t status) {
    switch (status) {
    case 0:
        return usb::UsbResult::Ok;
    case kUrbStall:
        return usb::UsbResult::Stall;
    case kUrbOverflow:
        return usb::UsbResult::Overflow;
    case kUrbShutdown:
    case -19: // -ENODEV: unplugged on the server side
    case -71: // -EPROTO
        return usb::UsbResult::Lost;
    default:
        return usb::UsbResult::Error;
    }
}

class UsbipDevice final : public usb::IUsbDevice {
public:
    UsbipDevice(std::unique_ptr<TcpConnection> connection, std::uint32_t devid)
        : m_connection(std::move(connection)), m_devid(devid) {}

    usb::UsbResult Control(const usb::ControlSetup& setup, std::uint8_t* data, Deadline deadline,
                           std::size_t& transferred) override {
        return Submit(0, setup.IsIn(), SetupBytes(setup), data, setup.length, deadline,
                      transferred);
    }

    usb::UsbResult Transfer(std::uint8_t endpoint, std::uint8_t* data, std::size_t size,
                            Deadline deadline, std::size_t& transferred) override {
        if (size > kMaxTransfer)
            return usb::UsbResult::Error;
        return Submit(endpoint & 0x0F, (endpoint & 0x80) != 0, {}, data, size, deadline,
                      transferred);
    }

    usb::UsbResult ClearHalt(std::uint8_t endpoint, Deadline deadline) override {
        std::size_t n = 0;
        return Control({0x02, usb::kRequestClearFeature, usb::kFeatureEndpointHalt, endpoint, 0},
                       nullptr, deadline, n);
    }

    usb::UsbResult Claim(std::uint8_t configurationValue, std::uint8_t /*interfaceNumber*/,
                         Deadline deadline) override {
        // The server's host owns the device; claiming is implicit in the
        // import. The configuration is set as any host does at enumeration.
        std::size_t n = 0;
        return Control({0x00, usb::kRequestSetConfiguration, configurationValue, 0, 0}, nullptr,
                       deadline, n);
    }

private:
    usb::UsbResult Submit(std::uint32_t endpoint, bool in, std::array<std::uint8_t, 8> setup,
                          std::uint8_t* data, std::size_t size, Deadline deadline,
                          std::size_t& transferred) {
        transferred = 0;
        if (m_lost)
            return usb::UsbResult::Lost;
        UrbHeader urb;
        urb.seqnum = NextSeqnum();
        urb.devid = m_devid;
        urb.direction = in ? kDirIn : kDirOut;
        urb.endpoint = endpoint;
        urb.transferLength = static_cast<std::uint32_t>(size);
        urb.setup = setup;
        Bytes header;
        AppendCmdSubmit(header, urb);
        const std::span<const std::uint8_t> parts[] = {
            header, in || size == 0 ? std::span<const std::uint8_t>()
                                    : std::span<const std::uint8_t>(data, size)};
        if (const ViStatus s = m_connection->SendAll(parts, WithGrace(deadline, kMessageGrace));
            s != VI_SUCCESS)
            return Lose();
        for (;;) {
            UrbHeader reply;
            const ViStatus s = ReceiveHeader(reply, deadline);
            if (s == VI_ERROR_TMO)
                return Unlink(urb.seqnum, in, data, size, transferred);
            if (s != VI_SUCCESS)
                return Lose();
            if (reply.command != kRetSubmit || reply.seqnum != urb.seqnum) {
                if (!SkipStale(reply))
                    return Lose();
                continue;
            }
            return TakeCompletion(reply, in, data, size, transferred);
        }
    }

    // The RET_SUBMIT of the caller's transfer: its data into the caller's memory.
    usb::UsbResult TakeCompletion(const UrbHeader& reply, bool in, std::uint8_t* data,
                                  std::size_t size, std::size_t& transferred) {
        const std::size_t got = in ? reply.actualLength : 0;
        if (got > size)
            return Lose(); // more than asked for: the stream cannot be trusted
        if (got > 0 && m_connection->ReceiveExact(
                           data, got, WithGrace(Deadline::min(), kMessageGrace)) != VI_SUCCESS)
            return Lose();
        transferred = in ? got : std::min<std::size_t>(reply.actualLength, size);
        return ResultOfUrbStatus(reply.status);
    }

    // The header of the next message; a timeout only before its first byte.
    ViStatus ReceiveHeader(UrbHeader& urb, Deadline deadline) {
        std::uint8_t bytes[kUrbHeaderSize];
        std::size_t got = 0;
        if (const ViStatus s = m_connection->ReceiveSome(bytes, sizeof bytes, deadline, got);
            s != VI_SUCCESS)
            return s;
        if (const ViStatus s = m_connection->ReceiveExact(bytes + got, sizeof bytes - got,
                                                          WithGrace(deadline, kMessageGrace));
            s != VI_SUCCESS)
            return s == VI_ERROR_TMO ? VI_ERROR_CONN_LOST : s;
        return DecodeUrbHeader(bytes, urb) ? VI_SUCCESS : VI_ERROR_CONN_LOST;
    }

    // A reply to a transfer given up earlier (it completed before its unlink
    // arrived) or the confirmation of such an unlink: read and dropped.
    bool SkipStale(const UrbHeader& reply) {
        if (reply.command == kRetUnlink)
            return true;
        if (reply.command != kRetSubmit || reply.actualLength > kMaxTransfer)
            return false;
        std::uint8_t scratch[4096];
        for (std::size_t left = reply.actualLength; left > 0;) {
            const std::size_t n = std::min(left, sizeof scratch);
            if (m_connection->ReceiveExact(scratch, n, WithGrace(Deadline::min(), kMessageGrace)) !=
                VI_SUCCESS)
                return false;
            left -= n;
        }
        return true;
    }

    // Gives up a transfer: USBIP_CMD_UNLINK, then its confirmation. A
    // transfer that completed before the unlink reached the server is
    // answered first by its RET_SUBMIT: that completion is the result, and
    // its data the caller's (dropping it would lose part of a reply to a
    // caller that waits in short slices).
    usb::UsbResult Unlink(std::uint32_t seqnum, bool in, std::uint8_t* data, std::size_t size,
                          std::size_t& transferred) {
        UrbHeader unlink;
        unlink.seqnum = NextSeqnum();
        unlink.devid = m_devid;
        unlink.unlinkSeqnum = seqnum;
        Bytes message;
        AppendCmdUnlink(message, unlink);
        const Deadline deadline = std::chrono::steady_clock::now() + kUnlinkGrace;
        if (m_connection->SendAll(message.data(), message.size(), deadline) != VI_SUCCESS)
            return Lose();
        usb::UsbResult result = usb::UsbResult::Timeout;
        for (;;) {
            UrbHeader reply;
            if (ReceiveHeader(reply, deadline) != VI_SUCCESS)
                return Lose();
            if (reply.command == kRetUnlink && reply.seqnum == unlink.seqnum)
                return result;
            if (reply.command == kRetSubmit && reply.seqnum == seqnum) {
                result = TakeCompletion(reply, in, data, size, transferred);
                if (result == usb::UsbResult::Lost)
                    return result;
                continue;
            }
            if (!SkipStale(reply))
                return Lose();
        }
    }

    usb::UsbResult Lose() {
        m_lost = true;
        return usb::UsbResult::Lost;
    }

    std::uint32_t NextSeqnum() {
        m_seqnum = m_seqnum == 0xFFFFFFFFu ? 1 : m_seqnum + 1;
        return m_seqnum;
    }

    std::unique_ptr<TcpConnection> m_connection;
    std::uint32_t m_devid;
    std::uint32_t m_seqnum = 0;
    bool m_lost = false;
};

ViStatus ReceiveOpReply(TcpConnection& connection, std::uint16_t code, Deadline deadline,
                        OpHeader& header) {
    std::uint8_t bytes[kOpHeaderSize];
    if (const ViStatus s = connection.ReceiveExact(bytes, sizeof bytes, deadline); s != VI_SUCCESS)
        return s == VI_ERROR_TMO ? VI_ERROR_RSRC_NFOUND : s;
    if (!DecodeOpHeader(bytes, header) || header.code != code)
        return VI_ERROR_IO;
    return VI_SUCCESS;
}

} // namespace

bool ParseServerList(std::string_view text, std::vector<ServerAddress>& servers) {
    std::vector<ServerAddress> parsed;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view entry = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        ServerAddress server;
        std::string_view portText;
        if (!entry.empty() && entry.front() == '[') {
            const std::size_t close = entry.find(']');
            if (close == std::string_view::npos)
                return false;
            server.host = std::string(entry.substr(1, close - 1));
            const std::string_view rest = entry.substr(close + 1);
            if (!rest.empty()) {
                if (rest.front() != ':')
                    return false;
                portText = rest.substr(1);
            }
        } else {
            const std::size_t colon = entry.find(':');
            server.host = std::string(entry.substr(0, colon));
            if (colon != std::string_view::npos)
                portText = entry.substr(colon + 1);
            if (colon != std::string_view::npos && portText.empty())
                return false;
        }
        if (server.host.empty() || server.host.find_first_of(" \t[]") != std::string::npos)
            return false;
        if (!portText.empty()) {
            unsigned port = 0;
            const auto [end, ec] =
                std::from_chars(portText.data(), portText.data() + portText.size(), port);
            if (ec != std::errc() || end != portText.data() + portText.size() || port == 0 ||
                port > 65535)
                return false;
            server.port = static_cast<std::uint16_t>(port);
        }
        parsed.push_back(std::move(server));
    }
    servers = std::move(parsed);
    return true;
}

ViStatus ListDevices(const ServerAddress& server, Deadline deadline,
                     std::vector<ExportedDevice>& devices) {
    devices.clear();
    std::unique_ptr<TcpConnection> connection;
    if (const ViStatus s = TcpConnection::Connect(server.host, server.port, deadline, connection);
        s != VI_SUCCESS)
        return s;
    Bytes request;
    AppendOpHeader(request, kOpReqDevlist, kStatusOk);
    if (const ViStatus s = connection->SendAll(request.data(), request.size(), deadline);
        s != VI_SUCCESS)
        return s;
    OpHeader header;
    if (const ViStatus s = ReceiveOpReply(*connection, kOpRepDevlist, deadline, header);
        s != VI_SUCCESS)
        return s;
    if (header.status != kStatusOk)
        return VI_ERROR_RSRC_NFOUND;
    std::uint8_t countBytes[4];
    if (const ViStatus s = connection->ReceiveExact(countBytes, 4, deadline); s != VI_SUCCESS)
        return s;
    const std::uint32_t count = static_cast<std::uint32_t>(countBytes[0]) << 24 |
                                static_cast<std::uint32_t>(countBytes[1]) << 16 |
                                static_cast<std::uint32_t>(countBytes[2]) << 8 | countBytes[3];
    if (count > kMaxDevices)
        return VI_ERROR_IO;
    std::vector<ExportedDevice> list;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t bytes[kDeviceSize];
        if (const ViStatus s = connection->ReceiveExact(bytes, sizeof bytes, deadline);
            s != VI_SUCCESS)
            return s;
        ExportedDevice device;
        if (!DecodeDevice(bytes, device))
            return VI_ERROR_IO;
        for (std::uint8_t k = 0; k < device.numInterfaces; ++k) {
            std::uint8_t entry[kInterfaceSize];
            if (const ViStatus s = connection->ReceiveExact(entry, sizeof entry, deadline);
                s != VI_SUCCESS)
                return s;
            ExportedInterface interface;
            DecodeInterface(entry, interface);
            device.interfaces.push_back(interface);
        }
        list.push_back(std::move(device));
    }
    devices = std::move(list);
    return VI_SUCCESS;
}

namespace {

// One OP_REQ_IMPORT; importStatus is the server's answer when it gave one.
ViStatus TryImport(const ServerAddress& server, const std::string& busId, Deadline deadline,
                   std::unique_ptr<usb::IUsbDevice>& device, std::uint32_t& importStatus) {
    importStatus = kStatusOk;
    std::unique_ptr<TcpConnection> connection;
    if (const ViStatus s = TcpConnection::Connect(server.host, server.port, deadline, connection);
        s != VI_SUCCESS)
        return s;
    Bytes request;
    AppendImportRequest(request, busId);
    if (const ViStatus s = connection->SendAll(request.data(), request.size(), deadline);
        s != VI_SUCCESS)
        return s;
    OpHeader header;
    if (const ViStatus s = ReceiveOpReply(*connection, kOpRepImport, deadline, header);
        s != VI_SUCCESS)
        return s;
    importStatus = header.status;
    if (header.status != kStatusOk)
        return VI_ERROR_RSRC_NFOUND;
    std::uint8_t bytes[kDeviceSize];
    if (const ViStatus s = connection->ReceiveExact(bytes, sizeof bytes, deadline); s != VI_SUCCESS)
        return s;
    ExportedDevice exported;
    if (!DecodeDevice(bytes, exported) || exported.busId != busId)
        return VI_ERROR_IO;
    device = std::make_unique<UsbipDevice>(std::move(connection), exported.DevId());
    return VI_SUCCESS;
}

// How long to wait before asking again for a device the server refused for
// the moment.
constexpr std::chrono::milliseconds kImportRetryPause{25};
// How long a device that is in use is asked for again. usbipd answers "busy"
// while usbip-host still holds the device for an importer, and that includes
// the moment after an importer has closed its connection and before the host
// side has noticed: the listing's second import of a device it has just let
// go must not be refused for it. A device another program holds stays busy
// past this and is reported so.
constexpr std::chrono::milliseconds kBusyGrace{500};

} // namespace

ViStatus ImportDevice(const ServerAddress& server, const std::string& busId, Deadline deadline,
                      std::unique_ptr<usb::IUsbDevice>& device) {
    const auto busyUntil = std::chrono::steady_clock::now() + kBusyGrace;
    for (;;) {
        std::uint32_t importStatus = kStatusOk;
        const ViStatus s = TryImport(server, busId, deadline, device, importStatus);
        switch (importStatus) {
        case kStatusOk:
            return s;
        case kStatusDeviceBusy: { // an importer holds the device
            const auto now = std::chrono::steady_clock::now();
            if (now >= busyUntil || now + kImportRetryPause >= deadline)
                return VI_ERROR_RSRC_BUSY;
            std::this_thread::sleep_for(kImportRetryPause);
            continue;
        }
        case kStatusNotAvailable:
        case kStatusDeviceError: {
            // usbipd refuses an import for a moment after an importer has
            // left, while usbip-host resets the device (a listing that
            // identifies a device imports it twice in a row): asked again
            // until the deadline, then the device counts as busy.
            const auto now = std::chrono::steady_clock::now();
            if (now + kImportRetryPause >= deadline)
                return VI_ERROR_RSRC_BUSY;
            std::this_thread::sleep_for(kImportRetryPause);
            continue;
        }
        default: // ST_NODEV, ST_ERROR: no such device there
            return VI_ERROR_RSRC_NFOUND;
        }
    }
}

} // namespace quarvel::visa::usbip
