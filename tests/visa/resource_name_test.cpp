#include "visa/transport_table.h"

#include "visa/builtin_transports.h"
#include "visa/resource_forms.h"
#include "visa/transport_registry.h"

#include <gtest/gtest.h>

#include <utility>

using quarvel::visa::ParseResourceName;
using quarvel::visa::ResourceName;
using quarvel::visa::TransportRow;

namespace {

// Parses by the transport table and, as the fuzz targets and the search
// expressions do, by the forms alone: both must choose the same form.
ResourceName Parse(const char* text, ViStatus expected = VI_SUCCESS) {
    ResourceName name;
    TransportRow row{};
    EXPECT_EQ(ParseResourceName(text, name, &row), expected) << text;
    ResourceName byForm;
    const quarvel::visa::ResourceForm* form = nullptr;
    EXPECT_EQ(quarvel::visa::ParseKnownResourceName(text, byForm, &form), expected) << text;
    if (expected == VI_SUCCESS) {
        EXPECT_EQ(form, row.form) << text;
        EXPECT_NE(row.open, nullptr) << text;
        EXPECT_EQ(quarvel::visa::CanonicalResourceName(byForm),
                  quarvel::visa::CanonicalResourceName(name));
    }
    return name;
}

} // namespace

// Keywords in any case; host and device names pass through unchanged; the
// canonical name spells out board, device and class.
TEST(VisaResourceName, NamesGiveTheirPartsAndCanonicalFormsThatParseAgain) {
    const std::pair<const char*, const char*> cases[] = {
        {"tcpip::Scope-Lab.example::InSTr", "TCPIP0::Scope-Lab.example::inst0::INSTR"},
        {"TCPIP::[fe80::1%eth0]::INST1::INSTR", "TCPIP0::[fe80::1%eth0]::INST1::INSTR"},
        {"TCPIP3::10.0.0.1::gpib0,7::instr", "TCPIP3::10.0.0.1::gpib0,7::INSTR"},
        {"tcpip::[::1]::5025::socket", "TCPIP0::[::1]::5025::SOCKET"},
    };
    for (const auto& [text, canonical] : cases) {
        const ResourceName n = Parse(text);
        EXPECT_EQ(quarvel::visa::CanonicalResourceName(n), canonical);
        EXPECT_EQ(quarvel::visa::CanonicalResourceName(Parse(canonical)), canonical);
    }
    const ResourceName socket = Parse("tcpip::[::1]::65535::socket");
    EXPECT_EQ(socket.host, "::1");
    EXPECT_EQ(socket.port, 65535);
    // Hex and decimal IDs, the serial number, the class left out and the
    // interface number find (or do not find) the simulator's device:
    // UsbSim.DeviceIsListedAndFoundOnlyByItsIdsAndSerial. Here "0X".
    EXPECT_EQ(Parse("usb::6833::0X4ce::MY12::3").modelCode, 0x04CE);
}

TEST(VisaResourceName, HislipDevicesGoToHislipWithTheirPort) {
    // The device name is the sub-address sent in Initialize; other device
    // names stay VXI-11's.
    const struct {
        const char* text;
        quarvel::visa::TransportFactory open;
        const char* device;
        int port;
    } cases[] = {
        {"TCPIP0::10.0.0.7::hislip0::INSTR", &quarvel::visa::OpenHislipTransport, "hislip0", 4880},
        {"tcpip::[::1]::HiSLIP12,4881", &quarvel::visa::OpenHislipTransport, "HiSLIP12", 4881},
        {"TCPIP::host::inst0::INSTR", &quarvel::visa::OpenVxi11Transport, "inst0", 0},
    };
    for (const auto& c : cases) {
        TransportRow row{};
        ResourceName n;
        ASSERT_EQ(ParseResourceName(c.text, n, &row), VI_SUCCESS) << c.text;
        EXPECT_EQ(row.open, c.open) << c.text;
        EXPECT_EQ(n.device, c.device);
        EXPECT_EQ(n.port, c.port) << c.text;
    }
}

TEST(VisaResourceName, MalformedStringsAreRejected) {
    for (const char* bad :
         {"", "TCPIP", "TCPIP0", "TCPIP::", "TCPIP::::INSTR", "::host::INSTR",
          "TCPIP::host::", "TCPIP:host", "GPIB0::5::INSTR", "TCPIPX::host", "TCPIP::ho st::INSTR",
          "TCPIP::[fe80::1::INSTR", "TCPIP::[fe80::1]x::INSTR", "TCPIP::host::a::b::INSTR",
          "TCPIP::host::dev::[x]", "0TCPIP::host", "TCPIP99999::host", "TCPIP::INSTR",
          "TCPIP::h\x01st",
          // Socket ports, HiSLIP ports and device names, USB IDs and interfaces.
          "TCPIP::host::0::SOCKET", "TCPIP::host::65536::SOCKET", "TCPIP::host::50x::SOCKET",
          "TCPIP::host::SOCKET", "TCPIP::host::-1::SOCKET", "TCPIP::host::5025::inst0::SOCKET",
          "TCPIP::host::hislip::INSTR", "TCPIP::host::hislipX::INSTR",
          "TCPIP::host::hislip0,::INSTR", "TCPIP::host::hislip0,0::INSTR",
          "TCPIP::host::hislip0,65536::INSTR", "TCPIP::host::hislip0,48x0::INSTR",
          "TCPIP::host::hislip0::4880::INSTR", "USB0::0x1AB1::0x04CE::INSTR",
          "USB0::0x10000::1::S::INSTR", "USB0::0x::1::S::INSTR", "USB0::0xG1::1::S",
          "USB0::1::2::S::256::INSTR", "USB0::1::2::S::x::INSTR", "USB0::-1::2::S",
          "USB0::1::2::S::0::extra::INSTR", "USB0::1::2::[S]::INSTR"})
        Parse(bad, VI_ERROR_INV_RSRC_NAME);
    const std::string huge = "TCPIP::" + std::string(5000, 'h');
    Parse(huge.c_str(), VI_ERROR_INV_RSRC_NAME);
}
