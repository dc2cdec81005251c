// The parts of the VISA library that programs other than Quarvel use:
// finding and parsing resources, attributes, locks, the status byte, the
// formatted buffers' raw access and the string forms of formatted I/O.
// Sessions talk to quarvel-sim over real loopback sockets.

#include "tests/visa/sim_fixture.h"
#include "visa/resource_pattern.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using quarvel::visa::ResourcePattern;

namespace {

bool NameMatches(const char* expression, const char* name) {
    ResourcePattern pattern;
    EXPECT_EQ(ResourcePattern::Compile(expression, pattern), VI_SUCCESS) << expression;
    return pattern.Matches(name, quarvel::visa::AttributesOfName(name));
}

// A resource manager whose VXI-11 sessions find the simulator's portmapper.
class VisaLibrary : public quarvel::test::VisaSimFixture {
protected:
    void Start() { VisaSimFixture::Start({"--instrument", "generic", "--idn", "ACME,X1,1,1.0"}); }
};

} // namespace

TEST(VisaResourcePattern, RegularExpressionsMatchWholeNamesRegardlessOfCase) {
    const char* name = "TCPIP0::192.168.1.5::inst0::INSTR";
    EXPECT_TRUE(NameMatches("?*::INSTR", name));
    EXPECT_TRUE(NameMatches("?*instr", name));
    EXPECT_TRUE(NameMatches("TCPIP[0-9]*::?*", name));
    EXPECT_TRUE(NameMatches("TCPIP[^A-Z]::?*", name));
    EXPECT_TRUE(NameMatches("GPIB?*|TCPIP?*", name)); // | splits whole expressions
    EXPECT_TRUE(NameMatches("(TCPIP|USB)0::1(9|2)+2?*", name));
    EXPECT_TRUE(NameMatches("TCPIP0::192\\.168\\.1\\.5::inst0::INSTR", name));
    EXPECT_FALSE(NameMatches("?*::SOCKET", name));
    EXPECT_FALSE(NameMatches("TCPIP", name)); // not a prefix search
    EXPECT_FALSE(NameMatches("TCPIP[1-9]::?*", name));
    EXPECT_FALSE(NameMatches("TCPIP0::192\\?168?*", name)); // \? is a question mark
    EXPECT_TRUE(NameMatches("TCPIP0::192\\?168", "TCPIP0::192?168"));
    // A state machine, not backtracking: nested repetitions over a long name
    // that does not match end at once.
    const std::string longName(600, 'a');
    EXPECT_FALSE(NameMatches("((a*)*)*b", longName.c_str()));

    ResourcePattern pattern;
    for (const char* bad :
         {"", "*", "+abc", "a|", "|a", "(a", "a)", "[a", "[]", "[z-a]", "a\\", "?*{",
          "?*{VI_ATTR_INTF_NUM}", "?*{VI_ATTR_NO_SUCH == 1}", "?*{VI_ATTR_RSRC_CLASS > \"INSTR\"}",
          "?*{VI_ATTR_INTF_NUM == }", "?*{(VI_ATTR_INTF_NUM == 0}"})
        EXPECT_EQ(ResourcePattern::Compile(bad, pattern), VI_ERROR_INV_EXPR) << bad;
    const std::string deep =
        "?*{" + std::string(100, '(') + "VI_ATTR_INTF_NUM == 0" + std::string(100, ')') + "}";
    EXPECT_EQ(ResourcePattern::Compile(deep, pattern), VI_ERROR_INV_EXPR);
}

TEST(VisaResourcePattern, AttributeExpressionsCompareWhatTheNameDetermines) {
    const char* socket = "TCPIP2::10.0.0.7::5025::SOCKET";
    EXPECT_TRUE(NameMatches("?*{VI_ATTR_TCPIP_PORT == 5025}", socket));
    EXPECT_TRUE(NameMatches("?*{VI_ATTR_TCPIP_PORT >= 0x1000 && VI_ATTR_INTF_NUM < 3}", socket));
    EXPECT_TRUE(NameMatches("?*{VI_ATTR_INTF_TYPE == 6 && !(VI_ATTR_INTF_NUM == 0)}", socket));
    EXPECT_TRUE(NameMatches("?*{VI_ATTR_RSRC_CLASS == \"INSTR\" || VI_ATTR_TCPIP_ADDR == "
                            "\"10.0.0.7\"}",
                            socket));
    EXPECT_FALSE(NameMatches("?*{VI_ATTR_TCPIP_PORT != 5025}", socket));
    // A SOCKET resource has no device name, so no comparison with it holds.
    EXPECT_FALSE(NameMatches("?*{VI_ATTR_TCPIP_DEVICE_NAME != \"x\"}", socket));
    EXPECT_TRUE(NameMatches("?*{VI_ATTR_TCPIP_DEVICE_NAME == \"inst0\"}", "TCPIP::h::INSTR"));
}

// The forms themselves: resource_name_test.cpp; the interface type, class
// and canonical name PyVISA's resource_info reads. Here what else the calls
// give: the board, an empty alias, a bad name or session.
TEST(VisaFindResources, ParseRsrcGivesTheBoardAndNoAlias) {
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViUInt16 type = 0;
    ViUInt16 board = 99;
    char rsrcClass[VI_FIND_BUFLEN];
    char expanded[VI_FIND_BUFLEN];
    char alias[VI_FIND_BUFLEN] = "x";
    ASSERT_EQ(
        viParseRsrcEx(rm, "usb1::6833::1230::DS1Z::2", &type, &board, rsrcClass, expanded, alias),
        VI_SUCCESS);
    EXPECT_EQ(board, 1);
    EXPECT_STREQ(alias, "");
    EXPECT_EQ(viParseRsrc(rm, "TCPIP::h::0::SOCKET", &type, &board), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viParseRsrc(rm + 1000, "TCPIP::h", &type, &board), VI_ERROR_INV_OBJECT);
    viClose(rm);
}

TEST_F(VisaLibrary, AttributesDescribeTheSessionAndRefuseWhatTheyCannotBe) {
    Start();
    const ViSession vxi = Open(m_sim->Vxi11Resource());
    const ViSession sock = Open(m_sim->SocketResource());
    char text[VI_FIND_BUFLEN];
    ViUInt16 u16 = 0;
    ViUInt32 u32 = 0;

    ASSERT_EQ(viGetAttribute(vxi, VI_ATTR_TCPIP_DEVICE_NAME, text), VI_SUCCESS);
    EXPECT_STREQ(text, "inst0");
    ASSERT_EQ(viGetAttribute(sock, VI_ATTR_RSRC_CLASS, text), VI_SUCCESS);
    EXPECT_STREQ(text, "SOCKET");
    ASSERT_EQ(viGetAttribute(sock, VI_ATTR_TCPIP_PORT, &u16), VI_SUCCESS);
    EXPECT_EQ(u16, m_sim->SocketPort());
    EXPECT_EQ(viGetAttribute(sock, VI_ATTR_TCPIP_DEVICE_NAME, text), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viGetAttribute(vxi, VI_ATTR_TCPIP_PORT, &u16), VI_ERROR_NSUP_ATTR);

    EXPECT_EQ(viSetAttribute(vxi, VI_ATTR_RSRC_NAME, 0), VI_ERROR_ATTR_READONLY);
    EXPECT_EQ(viSetAttribute(vxi, VI_ATTR_TERMCHAR_EN, 2), VI_ERROR_NSUP_ATTR_STATE);
    EXPECT_EQ(viSetAttribute(vxi, VI_ATTR_TERMCHAR, 0x100), VI_ERROR_NSUP_ATTR_STATE);
    EXPECT_EQ(viSetAttribute(vxi, 0x3FFF0021 /* VI_ATTR_ASRL_BAUD */, 9600), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viGetAttribute(vxi, 0x3FFF0021, &u32), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
}

TEST_F(VisaLibrary, EnabledTerminationCharacterEndsReadsOnEveryTransport) {
    Start();
    // A large buffer too: VXI-11 reads that much straight into it, HiSLIP
    // receives the whole message at once and keeps what follows the
    // character for the next reads.
    for (const std::size_t size : {64u, 1u << 20})
        for (const std::string& resource :
             {m_sim->Vxi11Resource(), m_sim->SocketResource(), m_sim->HislipResource()}) {
            SCOPED_TRACE(resource + ", a buffer of " + std::to_string(size));
            const ViSession vi = Open(resource);
            ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, ','), VI_SUCCESS);
            ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
            ASSERT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*IDN?\n"), 6, nullptr),
                      VI_SUCCESS);
            std::vector<ViByte> reply(size);
            ViUInt32 got = 0;
            ASSERT_EQ(viRead(vi, reply.data(), static_cast<ViUInt32>(size), &got),
                      VI_SUCCESS_TERM_CHAR)
                << resource << " " << size;
            EXPECT_EQ(std::string(reply.begin(), reply.begin() + got), "ACME,") << resource;
            ASSERT_EQ(viRead(vi, reply.data(), 2, &got), VI_SUCCESS_MAX_CNT);
            EXPECT_EQ(std::string(reply.begin(), reply.begin() + got), "X1");
            // The rest piece by piece, the last with a line feed for the
            // character: where it falls on the message's END, END it is
            // (SOCKET has none).
            for (const auto& [piece, status] :
                 {std::pair<std::string, ViStatus>{",", VI_SUCCESS_TERM_CHAR},
                  {"1,", VI_SUCCESS_TERM_CHAR},
                  {"1.0\n",
                   resource == m_sim->SocketResource() ? VI_SUCCESS_TERM_CHAR : VI_SUCCESS}}) {
                if (piece.back() == '\n') {
                    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, '\n'), VI_SUCCESS);
                }
                EXPECT_EQ(viRead(vi, reply.data(), static_cast<ViUInt32>(size), &got), status)
                    << resource << " " << piece;
                EXPECT_EQ(std::string(reply.begin(), reply.begin() + got), piece) << resource;
            }
            // Nothing of it is left for the next reply.
            ExpectIdn(vi, "ACME,X1,1,1.0");
            viClose(vi);
        }
}

// Over VXI-11 the status byte is the device_readstb service's: PyVISA's
// status byte test and Wireshark's decoder (WireDecoder, Vxi11) check it.
TEST_F(VisaLibrary, StatusByteBy488StringOverSocket) {
    Start();
    // An unknown command queues an error: its bit, no reply waiting.
    const ViSession sock = Open(m_sim->SocketResource());
    ASSERT_EQ(viPrintf(sock, ":NO:SUCH:COMMAND\n"), VI_SUCCESS);
    ViUInt16 stb = 0xFFFF;
    ASSERT_EQ(viReadSTB(sock, &stb), VI_SUCCESS);
    EXPECT_EQ(stb, 0x04);
    EXPECT_EQ(m_sim->Transcript().back(), "*STB?");
    EXPECT_EQ(viReadSTB(sock, nullptr), VI_ERROR_INV_PARAMETER);
}

TEST_F(VisaLibrary, Vxi11LocksKeepOtherLinksOutUntilUnlocked) {
    Start();
    const ViSession a = Open(m_sim->Vxi11Resource());
    const ViSession b = Open(m_sim->Vxi11Resource());
    ASSERT_EQ(viSetAttribute(b, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
    ASSERT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
    EXPECT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS_NESTED_EXCLUSIVE);
    ViAccessMode state = VI_NO_LOCK;
    ASSERT_EQ(viGetAttribute(a, VI_ATTR_RSRC_LOCK_STATE, &state), VI_SUCCESS);
    EXPECT_EQ(state, VI_EXCLUSIVE_LOCK);

    EXPECT_EQ(viLock(b, VI_EXCLUSIVE_LOCK, 50, nullptr, nullptr), VI_ERROR_RSRC_LOCKED);
    EXPECT_EQ(viPrintf(b, "*IDN?\n"), VI_ERROR_RSRC_LOCKED);
    ExpectIdn(a, "ACME,X1,1,1.0");

    EXPECT_EQ(viUnlock(a), VI_SUCCESS_NESTED_EXCLUSIVE);
    EXPECT_EQ(viPrintf(b, "*IDN?\n"), VI_ERROR_RSRC_LOCKED);
    EXPECT_EQ(viUnlock(a), VI_SUCCESS);
    EXPECT_EQ(viUnlock(a), VI_ERROR_SESN_NLOCKED);
    ExpectIdn(b, "ACME,X1,1,1.0");

    // Closing the session that holds the lock releases it.
    ASSERT_EQ(viLock(b, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
    viClose(b);
    EXPECT_EQ(viLock(a, VI_EXCLUSIVE_LOCK, 1000, nullptr, nullptr), VI_SUCCESS);
    EXPECT_EQ(viLock(a, VI_SHARED_LOCK, 0, nullptr, nullptr), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viLock(a, 7, 0, nullptr, nullptr), VI_ERROR_INV_LOCK_TYPE);
}

TEST_F(VisaLibrary, BufferedRawAccessSharesTheFormattedBuffersStringFormsUseTheCallers) {
    Start();
    const ViSession vi = Open(m_sim->SocketResource());
    ViByte text[64];
    ASSERT_EQ(viSPrintf(vi, text, ":CHAN%d:SCAL %.2f;%s\n", 2, 0.5, "X"), VI_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(text), ":CHAN2:SCAL 0.50;X\n");
    double value = 0;
    char word[32] = {};
    ViInt32 n = 0;
    ASSERT_EQ(viSScanf(vi, reinterpret_cast<const ViByte*>("1.25e3 volts 7"), "%lf %31s %d", &value,
                       word, &n),
              VI_SUCCESS);
    EXPECT_EQ(value, 1250.0);
    EXPECT_STREQ(word, "volts");
    EXPECT_EQ(n, 7);
    // Nothing went to the instrument.
    EXPECT_TRUE(m_sim->Transcript().empty());

    EXPECT_EQ(viSetBuf(vi, 0x40, 100), VI_ERROR_INV_MASK);
    EXPECT_EQ(viSetBuf(vi, VI_WRITE_BUF, 0), VI_ERROR_ALLOC);
    // A 4-byte write buffer goes out whenever full, without END.
    ASSERT_EQ(viSetBuf(vi, VI_WRITE_BUF | VI_READ_BUF, 4), VI_SUCCESS);
    ViUInt32 count = 0;
    ASSERT_EQ(viBufWrite(vi, reinterpret_cast<const ViByte*>("*IDN?\n"), 6, &count), VI_SUCCESS);
    EXPECT_EQ(count, 6u);
    ASSERT_EQ(viFlush(vi, VI_WRITE_BUF), VI_SUCCESS);
    char part[8] = {};
    ASSERT_EQ(viBufRead(vi, reinterpret_cast<ViByte*>(part), 5, &count), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(std::string(part, count), "ACME,");
    // The formatted reader goes on where the raw read stopped.
    char rest[64] = {};
    ASSERT_EQ(viScanf(vi, "%t", rest), VI_SUCCESS);
    EXPECT_STREQ(rest, "X1,1,1.0\n");
}

// A valid port from the environment is what the dlopen client of
// shared_library_test.cpp relies on; one that is not a port is ignored.
TEST(VisaLibraryEnvironment, PortmapperPortThatIsNoPortIsIgnored) {
    ASSERT_EQ(setenv("QUARVEL_PORTMAPPER_PORT", "70000", 1), 0);
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    unsetenv("QUARVEL_PORTMAPPER_PORT");
    ViUInt16 value = 0;
    ASSERT_EQ(viGetAttribute(rm, QVI_ATTR_PORTMAPPER_PORT, &value), VI_SUCCESS);
    EXPECT_EQ(value, 111);
    viClose(rm);
}
