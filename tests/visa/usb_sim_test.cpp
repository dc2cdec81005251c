// USBTMC against quarvel-sim's USB/IP server: what only USB has — the class's
// recovery after a stalled or mismatched transfer, firmware habits in the
// packet and transfer layout, listing, and finding a device by its IDs and
// serial number. The transport behaviour shared with the LAN transports is
// in sim_test.cpp.

#include "tests/visa/sim_fixture.h"
#include "visa/usbip_client.h"
#include "visa/visa.h"
#include "visa/visa_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <tuple>
#include <vector>

namespace {

class UsbSim : public quarvel::test::VisaSimFixture {
protected:
    void Start(std::vector<std::string> args, ViUInt32 timeoutMs = 2000) {
        VisaSimFixture::Start(args, timeoutMs, quarvel::test::Lan::Usb);
    }
    void ExpectIdn(const char* expected) { VisaSimFixture::ExpectIdn(m_vi, expected); }

    void ExpectTestBlock(std::size_t n) {
        std::vector<unsigned char> buffer(n + 16);
        EXPECT_TRUE(quarvel::test::QueryTestBlock(m_vi, n, buffer)) << n << " bytes";
    }
};

} // namespace

// A stalled bulk-IN read ends in the timeout (and its abort), a reply with
// another transfer's tag is refused; either way the next reply is clean.
TEST_F(UsbSim, StalledOrMistaggedReplyFailsAndTheNextReplyIsClean) {
    for (const auto& [fault, header, query, status] :
         {std::tuple{"--usb-stall-in", ":TEST:BLOCK?", ":TEST:BLOCK? 100", VI_ERROR_TMO},
          std::tuple{"--usb-wrong-tag", "*OPC?", "*OPC?", VI_ERROR_IO}}) {
        Start({"--idn", "ACME,X1,1,1.0", fault, "--fault-on", header}, 400);
        char reply[256] = {};
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(viQueryf(m_vi, "%s\n", "%t", query, reply), status) << fault;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
        ExpectIdn("ACME,X1,1,1.0");
        ExpectIdn("ACME,X1,1,1.0");
    }
}

// Firmware habits and bus speeds: the data arrives whole either way.
class UsbLayouts : public UsbSim, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(UsbLayouts, LargeBlockArrivesWholeAndTheNextReplyIsClean) {
    Start(GetParam(), 10000);
    ExpectTestBlock(300000);
    ExpectTestBlock(1012); // header and data fill exactly two 512-byte packets
    ExpectIdn("QUARVEL,SIM-1,0,1.0");
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, UsbLayouts,
    ::testing::Values(std::vector<std::string>{"--usb-split", "1000"},
                      std::vector<std::string>{"--usb-no-zlp", "--usb-empty-first"},
                      std::vector<std::string>{"--usb-full-speed", "--usb-no-zlp"},
                      std::vector<std::string>{"--usb-split", "52", "--usb-full-speed"},
                      std::vector<std::string>{"--usb-extra-bytes", "700"},
                      // A DS1054Z: 64-byte packets on a 512-byte endpoint.
                      std::vector<std::string>{"--usb-packets", "64"}),
    [](const auto& info) {
        std::string name;
        for (const std::string& arg : info.param)
            if (arg.rfind("--usb-", 0) == 0)
                for (char c : arg.substr(6))
                    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST_F(UsbSim, ADeviceAnotherImporterHoldsIsBusyAndARefusalForAMomentIsWaitedOut) {
    // As usbipd: one importer at a time (ST_DEV_BUSY to others), and imports
    // refused (ST_NA) for a moment after an importer leaves.
    Start({"--idn", "ACME,X1,1,1.0", "--usbip-exclusive", "--usbip-import-gap", "300"});
    ViSession second = VI_NULL;
    EXPECT_EQ(viOpen(m_rm, m_sim->UsbResource().c_str(), VI_NULL, 0, &second), VI_ERROR_RSRC_BUSY);
    ASSERT_EQ(viClose(m_vi), VI_SUCCESS);
    // The server sees the importer leave a moment after the close and
    // answers "busy" until then, then refuses imports for 300 ms: the open
    // right after the close waits out both within its 2 s.
    const ViStatus s = viOpen(m_rm, m_sim->UsbResource().c_str(), VI_NULL, 0, &m_vi);
    ASSERT_EQ(s, VI_SUCCESS);
    ExpectIdn("ACME,X1,1,1.0");
}

// Siglent firmware leaves read requests over its limit unanswered: the
// simulated SDS1x04X-E does so above 48 bytes, and the host, knowing the
// model, never asks for more (EveryFamily's SiglentSdsUsb case, which fails
// without the quirk). A host that did would time out — shown with the same
// limit on a device the quirk table does not know.
TEST_F(UsbSim, IgnoringTheTransferLimitOfAModelHangsTheDevice) {
    Start({"--idn", "ACME,X1,1,1.0", "--usb-max-transfer", "48"}, 400);
    char idn[256] = {};
    EXPECT_EQ(viQueryf(m_vi, "*IDN?\n", "%t", idn), VI_ERROR_TMO);
}

// viReadSTB is USB488's READ_STATUS_BYTE, answered on the interrupt endpoint
// (PyVISA's test reads it there) or, on a device without one, in the control
// reply; *STB? is never sent (it would also have taken the waiting reply's
// place).
TEST_F(UsbSim, StatusByteWithoutAnInterruptEndpointShowsAWaitingReplyWithoutAskingStb) {
    Start({"--instrument", "rigol", "--usb-no-interrupt"});
    ViUInt16 stb = 0xFFFF;
    ASSERT_EQ(viReadSTB(m_vi, &stb), VI_SUCCESS);
    EXPECT_EQ(stb & 0x10, 0);
    ASSERT_EQ(viPrintf(m_vi, "*IDN?\n"), VI_SUCCESS);
    ASSERT_EQ(viReadSTB(m_vi, &stb), VI_SUCCESS);
    EXPECT_EQ(stb & 0x10, 0x10);
    char idn[256] = {};
    ASSERT_EQ(viScanf(m_vi, "%t", idn), VI_SUCCESS);
    EXPECT_EQ(std::string(idn).rfind("RIGOL", 0), 0u) << idn;
    ASSERT_EQ(viReadSTB(m_vi, &stb), VI_SUCCESS);
    EXPECT_EQ(stb & 0x10, 0);
    const auto transcript = m_sim->Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "*STB?"), 0);
}

TEST_F(UsbSim, DeviceIsListedAndFoundOnlyByItsIdsAndSerial) {
    Start({"--instrument", "rigol"});
    // The resource manager searches USB only (the test environment's
    // QUARVEL_DISCOVERY): nothing is broadcast.
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char found[VI_FIND_BUFLEN] = {};
    ASSERT_EQ(viFindRsrc(m_rm, "?*INSTR", &list, &count, found), VI_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(std::string(found), m_sim->UsbResource());
    EXPECT_EQ(viFindNext(list, found), VI_ERROR_RSRC_NFOUND);
    viClose(list);
    EXPECT_EQ(viFindNext(list, found), VI_ERROR_INV_OBJECT);

    ViSession other = VI_NULL;
    // Decimal IDs and keywords in any case name the same device.
    EXPECT_EQ(viOpen(m_rm, "usb::6833::1230::DS1ZA000000001", VI_NULL, 0, &other), VI_SUCCESS);
    viClose(other);
    for (const char* absent : {"USB0::0x1AB1::0x04CE::DS1ZA000000002::INSTR",
                               "USB0::0x1AB1::0x04CF::DS1ZA000000001::INSTR",
                               "USB0::0x1AB1::0x04CE::DS1ZA000000001::1::INSTR"})
        EXPECT_EQ(viOpen(m_rm, absent, VI_NULL, 0, &other), VI_ERROR_RSRC_NFOUND) << absent;
}

// Neither a USB/IP server nor (on the test machines) a USB instrument on the
// bus: libusb's side answers at once too.
TEST(UsbOpen, NoServerMeansNotFoundAtOnceAndAnEmptyListing) {
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViSession vi = VI_NULL;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(viOpen(rm, "USB0::0x1AB1::0x04CE::DS1ZA000000001::INSTR", VI_NULL, 0, &vi),
              VI_ERROR_RSRC_NFOUND);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    ViFindList list = VI_NULL;
    ViUInt32 count = 7;
    char found[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viFindRsrc(rm, "?*INSTR", &list, &count, found), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(count, 0u);
    // What the window and quarvel-cli add to a failed open: the udev rules
    // for a device this user may not open, nothing for an absent one.
    char message[QVI_MESSAGE_BUFLEN] = {};
    const char* usb = "USB0::0x1AB1::0x04CE::DS1ZA000000001::INSTR";
    ASSERT_EQ(qviOpenFailureText(rm, usb, QVI_ERROR_NO_PERMISSION, message), VI_SUCCESS);
    EXPECT_NE(std::string(message).find("60-quarvel-usbtmc.rules"), std::string::npos) << message;
    ASSERT_EQ(qviOpenFailureText(rm, usb, VI_ERROR_RSRC_NFOUND, message), VI_SUCCESS);
    EXPECT_STREQ(message, "");
    EXPECT_EQ(viSetAttribute(rm, QVI_ATTR_USBIP_SERVERS, reinterpret_cast<ViAttrState>("x:0")),
              VI_ERROR_NSUP_ATTR_STATE);
    viClose(rm);
}

// QVI_ATTR_USBIP_SERVERS and QUARVEL_USBIP, parsed before any server is asked.
TEST(UsbipClient, ServerListsTakeHostsPortsAndBrackets) {
    std::vector<quarvel::visa::usbip::ServerAddress> servers;
    ASSERT_TRUE(quarvel::visa::usbip::ParseServerList("127.0.0.1:4000,lab-pi,[::1]:3240", servers));
    ASSERT_EQ(servers.size(), 3u);
    EXPECT_EQ(servers[0].port, 4000);
    EXPECT_EQ(servers[1].host, "lab-pi");
    EXPECT_EQ(servers[1].port, quarvel::visa::usbip::kDefaultPort);
    EXPECT_EQ(servers[2].host, "::1");
    for (const char* bad :
         {"host:", ":80", "host:0", "host:70000", "[::1", "[::1]x", "a b:1", "host:12x"})
        EXPECT_FALSE(quarvel::visa::usbip::ParseServerList(bad, servers)) << bad;
}
