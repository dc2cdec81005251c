// Fuzzes the USB/IP decoders of both sides: operation headers, devlist and
// import device blocks, interfaces, bus IDs and the four URB messages.
// Accepted messages re-encode to bytes that decode to the same fields, and a
// server list either parses whole or not at all.

#include "codec/usbip_protocol.h"
#include "visa/usbip_client.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace usbip = quarvel::visa::usbip;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const usbip::ByteView input(data, size);
    usbip::OpHeader op;
    usbip::DecodeOpHeader(input, op);
    usbip::ExportedDevice device;
    if (usbip::DecodeDevice(input, device)) {
        usbip::Bytes again;
        usbip::AppendDevice(again, device);
        usbip::ExportedDevice back;
        if (!usbip::DecodeDevice(again, back) || back.busId != device.busId ||
            back.DevId() != device.DevId() || device.numInterfaces > usbip::kMaxInterfaces)
            std::abort();
    }
    usbip::ExportedInterface interface;
    usbip::DecodeInterface(input, interface);
    std::string busId;
    if (usbip::DecodeBusId(input, busId) && busId.size() >= usbip::kBusIdSize)
        std::abort();
    usbip::UrbHeader urb;
    if (usbip::DecodeUrbHeader(input, urb)) {
        usbip::Bytes again;
        switch (urb.command) {
        case usbip::kCmdSubmit:
            usbip::AppendCmdSubmit(again, urb);
            break;
        case usbip::kRetSubmit:
            usbip::AppendRetSubmit(again, urb);
            break;
        case usbip::kCmdUnlink:
            usbip::AppendCmdUnlink(again, urb);
            break;
        case usbip::kRetUnlink:
            usbip::AppendRetUnlink(again, urb);
            break;
        default:
            std::abort();
        }
        usbip::UrbHeader back;
        if (!usbip::DecodeUrbHeader(again, back) || back.command != urb.command ||
            back.seqnum != urb.seqnum || back.status != urb.status ||
            back.transferLength != urb.transferLength)
            std::abort();
    }
    std::vector<usbip::ServerAddress> servers;
    if (usbip::ParseServerList(std::string_view(reinterpret_cast<const char*>(data), size),
                               servers))
        for (const auto& s : servers)
            if (s.host.empty() || s.port == 0)
                std::abort();
    return 0;
}
