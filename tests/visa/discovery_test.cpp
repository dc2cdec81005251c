// Finding instruments in the VISA layer: the host lists a probe asks, the
// GETPORT datagram answer, merging one instrument found several ways, and
// the environment variables that choose the ways. Nothing here
// broadcasts or uses DNS-SD (the CLI tests drive DNS-SD through a private
// daemon).

#include "codec/oncrpc.h"
#include "tests/support/sim_session.h"
#include "visa/discovery.h"
#include "visa/transport_table.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace quarvel::test {
namespace {

namespace rpc = visa::rpc;
using visa::Ipv4Text;
using visa::ParseProbeHosts;

std::vector<std::string> Texts(const std::vector<std::uint32_t>& hosts) {
    std::vector<std::string> out;
    for (std::uint32_t h : hosts)
        out.push_back(Ipv4Text(h));
    return out;
}

TEST(VisaDiscovery, ProbeHostListsAreStrictAndBounded) {
    std::vector<std::uint32_t> hosts;
    ASSERT_TRUE(ParseProbeHosts("10.0.0.5,127.0.0.1-127.0.0.3,127.0.1.7-8", hosts));
    EXPECT_EQ(Texts(hosts), (std::vector<std::string>{"10.0.0.5", "127.0.0.1", "127.0.0.2",
                                                      "127.0.0.3", "127.0.1.7", "127.0.1.8"}));
    // A network leaves out its own address and its broadcast address up to /30.
    hosts.clear();
    ASSERT_TRUE(ParseProbeHosts("192.168.1.77/24", hosts));
    ASSERT_EQ(hosts.size(), 254u);
    EXPECT_EQ(Ipv4Text(hosts.front()), "192.168.1.1");
    EXPECT_EQ(Ipv4Text(hosts.back()), "192.168.1.254");
    hosts.clear();
    ASSERT_TRUE(ParseProbeHosts("10.1.2.3/32,10.9.9.8/31", hosts));
    EXPECT_EQ(Texts(hosts), (std::vector<std::string>{"10.1.2.3", "10.9.9.8", "10.9.9.9"}));
    // 4096 hosts in all at most: a /20 fits, one more does not, nor a /8.
    hosts.clear();
    EXPECT_TRUE(ParseProbeHosts("10.0.0.0-10.0.15.255", hosts));
    EXPECT_EQ(hosts.size(), visa::kMaxProbeHosts);
    for (const char* bad :
         {"10.0.0.0-10.0.16.0", "10.0.0.0/8", "0.0.0.0/0", "10.0.0.0/19,1.2.3.4", "", "1.2.3",
          "1.2.3.4.5", "1.2.3.256", "1.2.3.4,", ",1.2.3.4", "1.2.3.9-1.2.3.8", "1.2.3.4-",
          "1.2.3.4/33", "1.2.3.4/", " 1.2.3.4", "1.2.3.+4", "1.2.3.0004", "host.lan"}) {
        std::vector<std::uint32_t> untouched = {7};
        EXPECT_FALSE(ParseProbeHosts(bad, untouched)) << bad;
        EXPECT_EQ(untouched.size(), 1u) << bad;
    }

    // Host names only where the caller takes them; resolved later (a probe
    // of "localhost": quarvel-cli list's test).
    std::vector<std::string> names;
    hosts.clear();
    ASSERT_TRUE(ParseProbeHosts("localhost,10.0.0.1,scope-1.Lab", hosts, &names));
    EXPECT_EQ(names, (std::vector<std::string>{"localhost", "scope-1.Lab"}));
    for (const char* bad : {"-a.lab", "a..lab", "a_b.lab", "1.2.3", "10.0.0.256", "a.lab,"})
        EXPECT_FALSE(ParseProbeHosts(bad, hosts, &names)) << bad;
    EXPECT_EQ(names.size(), 2u);

    unsigned methods = 0;
    EXPECT_TRUE(visa::ParseDiscoveryMethods("Probe,dnssd", methods));
    EXPECT_EQ(methods, visa::kDiscoverProbe | visa::kDiscoverDnssd);
    EXPECT_EQ(visa::DiscoveryMethodNames(methods), "probe,dnssd");
    for (const char* bad : {"", "probe,", "probe,multicast", "usb dnssd"})
        EXPECT_FALSE(visa::ParseDiscoveryMethods(bad, methods)) << bad;
    EXPECT_EQ(methods, visa::kDiscoverProbe | visa::kDiscoverDnssd);
}

TEST(VisaDiscovery, GetPortDatagramAnswerIsTheAcceptedReplyToOurCall) {
    const std::uint32_t xid = 0x51A7u;
    // The call itself goes through Wireshark's decoder (wire_decoder_test.cpp).

    // xid, REPLY, MSG_ACCEPTED, verifier (AUTH_NONE, empty), SUCCESS, port.
    const auto reply = [](std::initializer_list<std::uint32_t> words) {
        rpc::Bytes out;
        rpc::XdrWriter w(out);
        for (std::uint32_t word : words)
            w.PutUint32(word);
        return out;
    };
    std::uint32_t port = 1;
    EXPECT_TRUE(rpc::DecodeGetPortDatagram(reply({xid, 1, 0, 0, 0, 0, 4321}), xid, port));
    EXPECT_EQ(port, 4321u);
    EXPECT_TRUE(rpc::DecodeGetPortDatagram(reply({xid, 1, 0, 0, 0, 0, 0}), xid, port));
    EXPECT_EQ(port, 0u); // answered, but no VXI-11 there
    port = 9;
    for (const rpc::Bytes& bad :
         {reply({xid + 1, 1, 0, 0, 0, 0, 4321}),        // another call's answer
          reply({xid, 0, 0, 0, 0, 0, 4321}),            // a call, not a reply
          reply({xid, 1, 1, 0, 2, 2}),                  // denied
          reply({xid, 1, 0, 0, 0, 1}),                  // program unavailable
          reply({xid, 1, 0, 0, 0, 0, 0x10000}),         // no TCP port
          reply({xid, 1, 0, 0, 0, 0, 4321, 0}),         // trailing bytes
          reply({xid, 1, 0, 0, 0, 0}),                  // cut short
          reply({xid, 1, 0, 0, 0xFFFFFFF0u, 0, 4321})}) // verifier longer than the datagram
        EXPECT_FALSE(rpc::DecodeGetPortDatagram(bad, xid, port));
    EXPECT_EQ(port, 9u);
}

TEST(VisaDiscovery, OneHostFoundSeveralWaysIsListedByItsBestProtocol) {
    EXPECT_EQ(visa::MergeLanDuplicates(
                  {"TCPIP0::10.0.0.1::5025::SOCKET", "TCPIP0::10.0.0.1::inst0::INSTR",
                   "TCPIP0::10.0.0.1::hislip0,4881::INSTR", "TCPIP0::10.0.0.2::5025::SOCKET",
                   "TCPIP0::10.0.0.3::inst0::INSTR", "TCPIP0::10.0.0.3::5025::SOCKET",
                   "USB0::0x1AB1::0x04CE::DS1::INSTR", "TCPIP0::10.0.0.2::5026::SOCKET"}),
              (std::vector<std::string>{
                  "TCPIP0::10.0.0.1::hislip0,4881::INSTR", "TCPIP0::10.0.0.2::5025::SOCKET",
                  "TCPIP0::10.0.0.3::inst0::INSTR", "USB0::0x1AB1::0x04CE::DS1::INSTR",
                  "TCPIP0::10.0.0.2::5026::SOCKET"}));
}

// Found by probe, identified, reported and limited by the methods through
// quarvel-cli list and the window's Find list (tests/cli/cli_list_test.cpp,
// tests/ui/find_dialog_test.cpp); what only programs that set no attributes
// use is here.
TEST(VisaDiscovery, TheEnvironmentNamesTheWaysAndHostsForProgramsThatSetNoAttributes) {
    const std::string net = OwnLoopbackNet();
    SimProcess sim({"--instrument", "fsv", "--address", net + "3"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    // A variable with an unknown name leaves no way.
    setenv("QUARVEL_PORTMAPPER_PORT", std::to_string(sim.PortmapperPort()).c_str(), 1);
    setenv("QUARVEL_PROBE", (net + "3").c_str(), 1);
    for (const auto& [methods, found] : {std::pair<const char*, std::vector<std::string>>{
                                             "probe", {"TCPIP0::" + net + "3::inst0::INSTR"}},
                                         {"probe,nonsense", {}}}) {
        setenv("QUARVEL_DISCOVERY", methods, 1);
        ViSession rm = VI_NULL;
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
        EXPECT_EQ(FindAll(rm, "?*"), found) << methods;
        viClose(rm);
    }
    unsetenv("QUARVEL_PROBE");
    unsetenv("QUARVEL_PORTMAPPER_PORT");
    setenv("QUARVEL_DISCOVERY", "usb", 1);
}

} // namespace
} // namespace quarvel::test
