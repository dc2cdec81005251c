// Our VISA client and quarvel-sim, checked by a decoder that shares no code
// with either: the simulator records each conversation (--pcap), and
// Wireshark's own dissectors (tshark) read the file. They must find no
// malformed packet and no expert warning, the message sequence the protocol
// prescribes, and fields that agree with what the client saw.

#include "tests/support/sim_session.h"
#include "tests/support/temp_dir.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

using quarvel::test::ReadFileText;
using quarvel::test::SimProcess;
using quarvel::test::TempDir;

namespace {

// PDML's value of an expert item's severity from "Warning" up.
constexpr int kExpertWarning = 0x600000;
constexpr ViUInt32 kBlockSize = 150000;

// One field of a decoded message as tshark shows it.
struct Field {
    std::string show;  // "0x07", "150009", "GETPORT"...
    std::string label; // the name in its showname: "DataEnd" of "Message Type: DataEnd (0x07)"
    std::string hex;   // its bytes
};

// One protocol message: a frame may hold several, and one may span several
// frames. Its fields, and (when no field of its own has the name) those of
// the frame's other layers before it: the TCP stream and ports, the RPC header.
struct Pdu {
    std::map<std::string, Field> fields;
    bool fromClient = false;
    std::string stream; // "tcp 0", "udp 0"...

    const Field& operator[](const std::string& name) const {
        static const Field kNone;
        const auto it = fields.find(name);
        return it == fields.end() ? kNone : it->second;
    }
    unsigned long Number(const std::string& name) const {
        return std::strtoul((*this)[name].show.c_str(), nullptr, 0);
    }
};

std::string Attribute(const std::string& element, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = element.find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size();
    return element.substr(start, element.find('"', start) - start);
}

std::string Label(const std::string& showname) {
    const std::size_t colon = showname.find(": ");
    if (colon == std::string::npos)
        return {};
    const std::string rest = showname.substr(colon + 2);
    return rest.substr(0, rest.rfind(" ("));
}

std::string Hex(const std::string& text) {
    std::string hex;
    for (unsigned char c : text) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    return hex;
}

// Runs tshark over the file with the "-d" decode-as rules and returns the
// messages of the given protocols, in order; those from a port other than
// serverPorts are the client's. problems gets a line for each
// malformed packet and each expert item from warning up (except the one
// named `tolerated`), or for tshark itself failing.
std::vector<Pdu> Decode(const TempDir& dir, const std::string& pcap,
                        const std::vector<std::string>& decodeAs, const std::set<int>& serverPorts,
                        const std::vector<std::string>& protocols, std::string& problems,
                        const std::string& tolerated = {}) {
    std::vector<Pdu> pdus;
    if (std::system("command -v tshark >/dev/null") != 0) {
        problems = "tshark not found: install Debian's tshark package (scripts/test.sh does)";
        return pdus;
    }
    // Checksums checked too: the simulator's own frames must be sound.
    std::string command =
        "tshark -n -o ip.check_checksum:TRUE -o tcp.check_checksum:TRUE -r '" + pcap + "'";
    for (const std::string& rule : decodeAs)
        command += " -d '" + rule + "'";
    const std::string out = dir.File("decoded.pdml");
    // Run as root, tshark warns on standard error: only its status counts.
    command += " -T pdml >'" + out + "' 2>'" + dir.File("tshark.err") + "'";
    if (const int status = std::system(command.c_str()); status != 0) {
        problems = "tshark failed (" + std::to_string(status) +
                   "): " + ReadFileText(dir.File("tshark.err"));
        return pdus;
    }
    const std::string pdml = ReadFileText(out);
    // Fields go to the frame's context (the latest of each name) and to the
    // message under way, if any (the first of each name of its own, before
    // the context's): a message takes the layers after it (USB/IP's USB
    // request) with it.
    std::map<std::string, Field> frame;
    Pdu* current = nullptr;
    std::set<std::string> own;
    std::string expert;
    for (std::size_t at = 0; (at = pdml.find('<', at)) != std::string::npos; ++at) {
        const std::string element = pdml.substr(at, pdml.find('>', at) - at);
        const std::string name = Attribute(element, "name");
        if (element == "<packet") {
            frame.clear();
            current = nullptr;
        } else if (element.rfind("<proto ", 0) == 0) {
            if (std::find(protocols.begin(), protocols.end(), name) != protocols.end()) {
                const std::string layer = frame.count("tcp.stream") ? "tcp" : "udp";
                const int from = std::atoi(frame[layer + ".srcport"].show.c_str());
                pdus.push_back({frame, serverPorts.count(from) == 0,
                                layer + " " + frame[layer + ".stream"].show});
                current = &pdus.back();
                own.clear();
            }
            if (name == "_ws.malformed")
                problems += "frame " + frame["frame.number"].show + ": malformed\n";
        } else if (element.rfind("<field ", 0) == 0) {
            const Field field{Attribute(element, "show"), Label(Attribute(element, "showname")),
                              Attribute(element, "value")};
            if (name == "_ws.expert.message")
                expert = field.show;
            if (name == "_ws.expert.severity" && std::atoi(field.show.c_str()) >= kExpertWarning &&
                expert != tolerated)
                problems += "frame " + frame["frame.number"].show + ": " + expert + "\n";
            frame[name] = field;
            if (current != nullptr && own.insert(name).second)
                current->fields[name] = field;
        }
    }
    return pdus;
}

// The messages of one stream ("tcp 1").
std::vector<Pdu> OnStream(const std::vector<Pdu>& pdus, const std::string& stream) {
    std::vector<Pdu> on;
    std::copy_if(pdus.begin(), pdus.end(), std::back_inserter(on),
                 [&](const Pdu& p) { return p.stream == stream; });
    return on;
}

// The word of each message ("" for none), after "C:" or "S:" for its sender.
// With collapse, a run of equal words (a response in several pieces) or of
// equal word pairs (a response asked for piece by piece) counts once.
using Word = std::function<std::string(const Pdu&)>;
std::string Sequence(const std::vector<Pdu>& pdus, const Word& word, bool collapse) {
    std::vector<std::string> words;
    for (const Pdu& p : pdus) {
        const std::string w = word(p);
        if (w.empty())
            continue;
        words.push_back((p.fromClient ? "C:" : "S:") + w);
        const std::size_t n = words.size();
        if (collapse && n >= 2 && words[n - 1] == words[n - 2])
            words.pop_back();
        else if (collapse && n >= 4 && words[n - 1] == words[n - 3] && words[n - 2] == words[n - 4])
            words.resize(n - 2);
    }
    std::string text;
    for (const std::string& w : words)
        text += (text.empty() ? "" : " ") + w;
    return text;
}

// The dissector's name for the value of field `name`, but for `skipped`.
Word LabelOf(const std::string& name, const std::string& skipped = {}) {
    return [name, skipped](const Pdu& p) {
        const std::string label = p[name].label;
        return label == skipped ? std::string() : label;
    };
}

// A USB/IP message by its operation, a URB by its endpoint; control
// requests by the name the USB dissector gives (standard) or their number
// (USBTMC's own).
std::string UsbRequest(const Pdu& p) {
    if (!p["usbip.operation"].label.empty())
        return p["usbip.operation"].label;
    if (p["usbip.urb"].label != "OP_CMD_SUBMIT")
        return {};
    const unsigned long endpoint = p.Number("usbip.endpoint_number");
    if (endpoint == 0)
        return "control " + p["usb.setup.bRequest"].label;
    return (p.Number("usbip.endpoint_number.direction") ? "IN " : "OUT ") +
           std::to_string(endpoint);
}

enum class Link { Hislip, Vxi11, Usb };

struct StreamCheck {
    std::string stream; // "tcp 1"
    Word word;
    bool collapse;
    std::string sequence;
};

struct WireCase {
    const char* name;
    Link link;
    std::vector<std::string> protocols;
    std::string tolerated;            // an expert warning that is no fault of ours
    std::vector<StreamCheck> streams; // the message sequence on each connection
    std::string dataField;            // the bytes a message carries
    std::string stbField;             // where the server's status byte shows, if it does
};

// Holds the conversation over `link` with a simulator that records it:
// an error queued, *IDN? read whole, *IDN? read after the status byte (not
// zero: an error and then a reply wait), a block, a lock, a clear. Returns
// the identification and the status byte the client saw.
void Converse(SimProcess& sim, Link link, std::vector<std::string>& decodeAs,
              std::set<int>& serverPorts, std::string& idn, ViUInt16& stb) {
    ViSession rm = quarvel::test::SimResourceManager(sim, 5000);
    ASSERT_NE(rm, VI_NULL);
    std::unique_ptr<ViSession, void (*)(ViSession*)> closeRm(&rm,
                                                             [](ViSession* s) { viClose(*s); });
    const auto serving = [&](const char* layer, int port, const char* as) {
        decodeAs.push_back(std::string(layer) + ".port==" + std::to_string(port) + "," + as);
        serverPorts.insert(port);
    };
    std::string resource;
    if (link == Link::Hislip) {
        serving("tcp", sim.HislipPort(), "hislip");
        resource = sim.HislipResource();
    } else if (link == Link::Vxi11) {
        serving("udp", sim.PortmapperPort(), "rpc");
        serving("tcp", sim.PortmapperPort(), "rpc");
        serving("tcp", sim.Vxi11Port(), "rpc");
        resource = sim.Vxi11Resource();
        // A probe asks the portmapper over UDP first.
        for (const auto& [attribute, value] : {std::pair{QVI_ATTR_PROBE_HOSTS, "127.0.0.1"},
                                               std::pair{QVI_ATTR_DISCOVERY_METHODS, "probe"}})
            ASSERT_EQ(viSetAttribute(rm, attribute, reinterpret_cast<ViAttrState>(value)),
                      VI_SUCCESS);
        ASSERT_EQ(quarvel::test::FindAll(rm, "?*INSTR").size(), 1u);
    } else {
        serving("tcp", sim.UsbipPort(), "usbip");
        resource = sim.UsbResource();
    }
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(rm, resource.c_str(), VI_NULL, 0, &vi), VI_SUCCESS) << resource;
    char text[256] = {};
    ASSERT_EQ(viPrintf(vi, ":NO:SUCH:COMMAND\n"), VI_SUCCESS);
    ASSERT_EQ(viQueryf(vi, "*IDN?\n", "%t", text), VI_SUCCESS);
    ASSERT_EQ(viPrintf(vi, "*IDN?\n"), VI_SUCCESS);
    ASSERT_EQ(viReadSTB(vi, &stb), VI_SUCCESS);
    ASSERT_NE(stb, 0);
    ASSERT_EQ(viScanf(vi, "%t", text), VI_SUCCESS);
    idn = text;
    std::vector<unsigned char> block(kBlockSize + 100);
    ViUInt32 count = static_cast<ViUInt32>(block.size());
    ASSERT_EQ(viQueryf(vi, ":TEST:BLOCK? %u\n", "%#b\n", kBlockSize, &count, block.data()),
              VI_SUCCESS);
    ASSERT_EQ(count, kBlockSize);
    ASSERT_EQ(viLock(vi, VI_EXCLUSIVE_LOCK, 1000, nullptr, nullptr), VI_SUCCESS);
    ASSERT_EQ(viUnlock(vi), VI_SUCCESS);
    ASSERT_EQ(viClear(vi), VI_SUCCESS);
}

void PrintTo(const WireCase& c, std::ostream* out) {
    *out << c.name;
}

class WireDecoder : public ::testing::TestWithParam<WireCase> {};

// tshark finds no malformed packet and no warning, the message sequence the
// protocol prescribes on each connection, the commands the client sent and
// the identification and status byte it read.
TEST_P(WireDecoder, DissectsOurConversationAsSentAndRead) {
    const WireCase& c = GetParam();
    TempDir dir;
    const std::string pcap = dir.File("conversation.pcap");
    std::vector<std::string> decodeAs;
    std::set<int> serverPorts;
    std::string idn;
    ViUInt16 stb = 0;
    {
        SimProcess sim({"--idn", "ACME,WIRE,42,1.0", "--pcap", pcap});
        ASSERT_TRUE(sim.Started()) << sim.Output();
        ASSERT_NO_FATAL_FAILURE(Converse(sim, c.link, decodeAs, serverPorts, idn, stb));
    } // the simulator stopped: every connection is in the file
    std::string problems;
    const std::vector<Pdu> pdus =
        Decode(dir, pcap, decodeAs, serverPorts, c.protocols, problems, c.tolerated);
    ASSERT_EQ(problems, "");
    ASSERT_FALSE(pdus.empty());
    for (const StreamCheck& s : c.streams)
        EXPECT_EQ(Sequence(OnStream(pdus, s.stream), s.word, s.collapse), s.sequence) << s.stream;

    std::string sent, read;
    bool stbSeen = c.stbField.empty();
    for (const Pdu& p : pdus) {
        (p.fromClient ? sent : read) += p[c.dataField].hex;
        stbSeen = stbSeen ||
                  (!p.fromClient && !p[c.stbField].show.empty() && p.Number(c.stbField) == stb);
    }
    EXPECT_NE(sent.find(Hex("*IDN?\n")), std::string::npos);
    EXPECT_NE(sent.find(Hex(":TEST:BLOCK? " + std::to_string(kBlockSize) + "\n")),
              std::string::npos);
    EXPECT_NE(read.find(Hex(idn)), std::string::npos) << idn;
    EXPECT_TRUE(stbSeen) << c.stbField << " " << stb;
}

INSTANTIATE_TEST_SUITE_P(
    Links, WireDecoder,
    ::testing::Values(
        // The dissector shows HiSLIP data as text: a binary block gives it
        // "trailing stray characters" after the first NUL byte. A response
        // may come in Data messages before its DataEnd.
        WireCase{"Hislip",
                 Link::Hislip,
                 {"hislip"},
                 "Trailing stray characters",
                 {{"tcp 0", LabelOf("hislip.messagetype", "Data"), false,
                   "C:Initialize S:InitializeResponse C:DataEnd C:DataEnd S:DataEnd C:DataEnd "
                   "S:DataEnd C:DataEnd S:DataEnd C:DeviceClearComplete S:DeviceClearAcknowledge"},
                  {"tcp 1", LabelOf("hislip.messagetype"), false,
                   "C:AsyncInitialize S:AsyncInitializeResponse C:AsyncMaximumMessageSize "
                   "S:AsyncMaximumMessageSizeResponse C:AsyncStatusQuery S:AsyncStatusResponse "
                   "C:AsyncLock S:AsyncLockResponse C:AsyncLock S:AsyncLockResponse "
                   "C:AsyncDeviceClear S:AsyncDeviceClearAcknowledge"}},
                 "hislip.data",
                 "hislip.controlcode.stb"},
        // The probe's datagram, then the connection's own question.
        WireCase{"Vxi11",
                 Link::Vxi11,
                 {"portmap", "vxi11_core"},
                 "",
                 {{"udp 0", LabelOf("portmap.procedure_v2"), true, "C:GETPORT S:GETPORT"},
                  {"tcp 0", LabelOf("portmap.procedure_v2"), true, "C:GETPORT S:GETPORT"},
                  {"tcp 1", LabelOf("vxi11_core.procedure_v1"), true,
                   "C:CREATE_LINK S:CREATE_LINK C:DEVICE_WRITE S:DEVICE_WRITE C:DEVICE_READ "
                   "S:DEVICE_READ C:DEVICE_WRITE S:DEVICE_WRITE C:DEVICE_READSTB S:DEVICE_READSTB "
                   "C:DEVICE_READ S:DEVICE_READ C:DEVICE_WRITE S:DEVICE_WRITE C:DEVICE_READ "
                   "S:DEVICE_READ C:DEVICE_LOCK S:DEVICE_LOCK C:DEVICE_UNLOCK S:DEVICE_UNLOCK "
                   "C:DEVICE_CLEAR S:DEVICE_CLEAR C:DESTROY_LINK S:DESTROY_LINK"}},
                 "vxi11_core.data",
                 "vxi11_core.stb"},
        // Descriptors, configuration, capabilities and remote mode; the
        // commands; the status byte (READ_STATUS_BYTE and its interrupt); the
        // replies; the clear (INITIATE_CLEAR, CHECK_CLEAR_STATUS, the bulk-OUT
        // halt cleared).
        WireCase{"Usbip",
                 Link::Usb,
                 {"usbip"},
                 "",
                 {{"tcp 0", LabelOf("usbip.operation"), true, "C:OP_REQ_DEVLIST S:OP_REP_DEVLIST"},
                  {"tcp 1", UsbRequest, true,
                   "C:OP_REQ_IMPORT S:OP_REP_IMPORT C:control GET DESCRIPTOR C:control SET "
                   "CONFIGURATION C:control 7 C:control 160 C:OUT 1 C:IN 2 C:OUT 1 C:control 128 "
                   "C:IN 3 C:OUT 1 C:IN 2 C:control 5 C:control 6 C:control CLEAR FEATURE"}},
                 "usb.capdata",
                 ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
