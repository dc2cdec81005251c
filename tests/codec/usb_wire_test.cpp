// The USB wire formats on their own: descriptors, USBTMC headers and
// capabilities, USB/IP operation and URB messages. Layouts are checked
// against bytes laid out by hand from the class and protocol documents, and
// every decoder refuses what does not follow them (the happy paths go through
// the USB tests over the simulator's USB/IP server and Wireshark's decoder).

#include "codec/usb_descriptors.h"
#include "codec/usbip_protocol.h"
#include "codec/usbtmc_message.h"

#include <gtest/gtest.h>

namespace usb = quarvel::visa::usb;
namespace tmc = quarvel::visa::usbtmc;
namespace usbip = quarvel::visa::usbip;

TEST(UsbDescriptors, ConfigurationWithClassSpecificDescriptorsParses) {
    // Configuration, an unknown class-specific descriptor, the USBTMC
    // interface with bulk-OUT 0x01, bulk-IN 0x82 (512) and interrupt-IN 0x83.
    const usb::Bytes bytes = {9, 2,    44,   0, 1,    1,    0, 0x80, 50, //
                              5, 0x24, 1,    2, 3,                       //
                              9, 4,    0,    0, 3,    0xFE, 3, 1,    0,  //
                              7, 5,    0x01, 2, 0x00, 0x02, 0,           //
                              7, 5,    0x82, 2, 0x00, 0x02, 0,           //
                              7, 5,    0x83, 3, 0x08, 0x00, 4};
    // Without the class-specific descriptor, the encoder gives the same bytes
    // back. The fields themselves: every USB test finds the simulated
    // device's USBTMC interface, endpoints and packet size by them (a field
    // read from the wrong place fails UsbSim, UsbLayouts and PyVISA's
    // USB488 protocol).
    usb::ConfigurationDescriptor c;
    ASSERT_TRUE(usb::ParseConfigurationDescriptor(bytes, c));
    usb::Bytes plain = bytes;
    plain.erase(plain.begin() + 9, plain.begin() + 14);
    plain[2] = static_cast<std::uint8_t>(plain.size());
    EXPECT_EQ(usb::EncodeConfigurationDescriptor(c), plain);

    // Broken: a zero length, a length past the end, an endpoint more than
    // announced, an interface count that does not match, a truncated total.
    const std::pair<std::size_t, std::uint8_t> breakages[] = {{9, 0}, {37, 60}, {18, 2}, {4, 2}};
    for (const auto& [index, value] : breakages) {
        usb::Bytes broken = bytes;
        broken[index] = value;
        EXPECT_FALSE(usb::ParseConfigurationDescriptor(broken, c)) << index;
    }
    EXPECT_FALSE(usb::ParseConfigurationDescriptor(usb::ByteView(bytes).first(30), c));
}

TEST(UsbDescriptors, StringDescriptorsAreUtf16AndDeviceDescriptorsWhole) {
    std::string text;
    // UTF-16: "µ", a surrogate pair, and a lone surrogate.
    const usb::Bytes utf16 = {10, 3, 0xB5, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8};
    ASSERT_TRUE(usb::ParseStringDescriptor(utf16, text));
    EXPECT_EQ(text, "\xC2\xB5\xF0\x9F\x98\x80?");
    for (const usb::Bytes& bad : {usb::Bytes{3, 3, 0x41}, usb::Bytes{8, 3, 0x41, 0},
                                  usb::Bytes{4, 2, 0x41, 0}, usb::Bytes{1}})
        EXPECT_FALSE(usb::ParseStringDescriptor(bad, text));
    usb::DeviceDescriptor d;
    EXPECT_FALSE(
        usb::ParseDeviceDescriptor(usb::ByteView(usb::EncodeDeviceDescriptor(d)).first(17), d));
}

TEST(UsbtmcMessages, HeadersFollowTheClassLayout) {
    std::uint8_t h[tmc::kHeaderSize];
    tmc::EncodeDevDepMsgOut(7, 0x01020304, true, h);
    EXPECT_EQ(usb::Bytes(h, h + 12), (usb::Bytes{1, 7, 0xF8, 0, 4, 3, 2, 1, 1, 0, 0, 0}));
    tmc::BulkOutHeader out;
    ASSERT_TRUE(tmc::DecodeBulkOutHeader(usb::ByteView(h, 12), out));
    EXPECT_TRUE(out.Eom());
    EXPECT_EQ(out.transferSize, 0x01020304u);

    tmc::EncodeRequestDevDepMsgIn(255, 500, true, '\n', h);
    ASSERT_TRUE(tmc::DecodeBulkOutHeader(usb::ByteView(h, 12), out));
    EXPECT_EQ(out.msgId, tmc::kRequestDevDepMsgIn);
    EXPECT_TRUE(out.TermCharEnabled());
    EXPECT_EQ(out.termChar, '\n');
    EXPECT_EQ(tmc::NextTag(255), 1);
    EXPECT_EQ(tmc::PaddedSize(13), 16u);

    tmc::EncodeDevDepMsgIn(9, 52, false, false, h);
    tmc::BulkInHeader in;
    // What a reply's header says, every USB test reads.
    ASSERT_TRUE(tmc::DecodeBulkInHeader(usb::ByteView(h, 12), in));
    // A wrong inverse, tag 0, a nonzero reserved byte, an unknown MsgID.
    for (auto [index, value] : {std::pair{2, 0x00}, {1, 0x00}, {3, 0x01}, {0, 0x05}}) {
        std::uint8_t bad[12];
        std::copy(h, h + 12, bad);
        bad[index] = static_cast<std::uint8_t>(value);
        if (index == 1)
            bad[2] = 0xFF;
        EXPECT_FALSE(tmc::DecodeBulkInHeader(usb::ByteView(bad, 12), in)) << index;
    }
    EXPECT_FALSE(tmc::DecodeBulkInHeader(usb::ByteView(h, 11), in));

    tmc::Capabilities caps;
    caps.deviceCapabilities = 1;
    caps.usb488InterfaceCapabilities = 0x06;
    tmc::Capabilities back;
    ASSERT_TRUE(tmc::DecodeCapabilities(tmc::EncodeCapabilities(caps), back));
    EXPECT_TRUE(back.TermCharSupported());
    EXPECT_TRUE(back.RemoteLocalSupported());
    caps.status = tmc::kStatusFailed;
    EXPECT_FALSE(tmc::DecodeCapabilities(tmc::EncodeCapabilities(caps), back));
}

TEST(UsbipMessages, DevlistEntryAndUrbHeadersFollowTheProtocolLayout) {
    usbip::ExportedDevice d;
    d.path = "/sys/devices/x";
    d.busId = "1-1";
    d.busNum = 1;
    d.devNum = 2;
    d.vendorId = 0x1AB1;
    d.productId = 0x04CE;
    d.numInterfaces = 1;
    usbip::Bytes bytes;
    usbip::AppendDevice(bytes, d);
    ASSERT_EQ(bytes.size(), usbip::kDeviceSize);
    // The bus ID and the IDs where Linux's usbip reads them: SimUsbip. The
    // bus number, which it does not show, big-endian after them.
    EXPECT_EQ(bytes[256 + 32 + 3], 1);
    usbip::ExportedDevice back;
    ASSERT_TRUE(usbip::DecodeDevice(bytes, back));
    EXPECT_EQ(back.DevId(), 0x00010002u);
    EXPECT_EQ(back.path, d.path);
    bytes[256 + 31] = 'x'; // a bus ID without its NUL
    std::fill(bytes.begin() + 256, bytes.begin() + 288, 'x');
    EXPECT_FALSE(usbip::DecodeDevice(bytes, back));

    usbip::UrbHeader cmd;
    cmd.seqnum = 5;
    cmd.devid = 0x10002;
    cmd.direction = usbip::kDirIn;
    cmd.endpoint = 2;
    cmd.transferLength = 512;
    usbip::Bytes urb;
    usbip::AppendCmdSubmit(urb, cmd);
    ASSERT_EQ(urb.size(), usbip::kUrbHeaderSize);
    usbip::UrbHeader parsed;
    ASSERT_TRUE(usbip::DecodeUrbHeader(urb, parsed));
    EXPECT_EQ(parsed.command, usbip::kCmdSubmit);
    EXPECT_EQ(parsed.transferLength, 512u);
    urb[15] = 2; // direction 2
    EXPECT_FALSE(usbip::DecodeUrbHeader(urb, parsed));
    urb[15] = 1;
    urb[35] = 3; // isochronous packets
    EXPECT_FALSE(usbip::DecodeUrbHeader(urb, parsed));

    usbip::UrbHeader ret;
    ret.seqnum = 5;
    ret.status = usbip::kUrbStall;
    ret.actualLength = 7;
    usbip::Bytes reply;
    usbip::AppendRetSubmit(reply, ret);
    ASSERT_TRUE(usbip::DecodeUrbHeader(reply, parsed));
    EXPECT_EQ(parsed.status, -32);
    EXPECT_EQ(parsed.actualLength, 7u);
    reply[3] = 9; // unknown command
    EXPECT_FALSE(usbip::DecodeUrbHeader(reply, parsed));
}
