// Our VISA client and quarvel-sim, checked by a decoder that shares no code
// with either: the simulator records each conversation (--pcap), and
// Wireshark's own dissectors (tshark) read the file. They must find no
// malformed packet and no expert warning, the message sequence the protocol
// prescribes, and fields that agree with what the client saw.

#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
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
    std::string show;     // "0x07", "150009", "GETPORT"...
    std::string label;    // the name in its showname: "DataEnd" of "Message Type: DataEnd (0x07)"
    std::string hex;      // its bytes
    std::size_t size = 0; // its length on the wire
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
                              Attribute(element, "value"),
                              std::strtoull(Attribute(element, "size").c_str(), nullptr, 10)};
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
std::string Sequence(const std::vector<Pdu>& pdus,
                     const std::function<std::string(const Pdu&)>& word, bool collapse) {
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

// The dissector's name for the value of field `name`.
std::function<std::string(const Pdu&)> LabelOf(const std::string& name) {
    return [name](const Pdu& p) { return p[name].label; };
}

// What the client saw of the conversation every test holds.
struct Seen {
    std::string idn;
    ViUInt32 blockCount = 0;
    ViUInt16 stb = 0;
};

enum class Link { Hislip, Vxi11, Usb };

class WireDecoder : public ::testing::Test {
protected:
    // Starts the simulator recording, holds the conversation over `link`,
    // closes, stops the simulator and decodes its file as `protocols`.
    void Record(Link link, const std::vector<std::string>& protocols,
                const std::string& tolerated = {}) {
        const std::string pcap = m_dir.File("conversation.pcap");
        auto sim = std::make_unique<SimProcess>(
            std::vector<std::string>{"--idn", "ACME,WIRE,42,1.0", "--pcap", pcap});
        ASSERT_TRUE(sim->Started()) << sim->Output();
        m_corePort = sim->Vxi11Port();
        ViSession rm = VI_NULL;
        ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
        std::unique_ptr<ViSession, void (*)(ViSession*)> closeRm(&rm,
                                                                 [](ViSession* s) { viClose(*s); });
        ASSERT_EQ(viSetAttribute(rm, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
        std::string resource;
        std::vector<std::string> decodeAs;
        std::set<int> serverPorts;
        const auto serving = [&](const char* layer, int port, const char* as) {
            decodeAs.push_back(std::string(layer) + ".port==" + std::to_string(port) + "," + as);
            serverPorts.insert(port);
        };
        if (link == Link::Hislip) {
            serving("tcp", sim->HislipPort(), "hislip");
            resource = sim->HislipResource();
        } else if (link == Link::Vxi11) {
            serving("udp", sim->PortmapperPort(), "rpc");
            serving("tcp", sim->PortmapperPort(), "rpc");
            serving("tcp", sim->Vxi11Port(), "rpc");
            ASSERT_EQ(viSetAttribute(rm, QVI_ATTR_PORTMAPPER_PORT, sim->PortmapperPort()),
                      VI_SUCCESS);
            resource = sim->Vxi11Resource();
            // A probe asks the portmapper over UDP first.
            for (const auto& [attribute, value] : {std::pair{QVI_ATTR_PROBE_HOSTS, "127.0.0.1"},
                                                   std::pair{QVI_ATTR_DISCOVERY_METHODS, "probe"}})
                ASSERT_EQ(viSetAttribute(rm, attribute, reinterpret_cast<ViAttrState>(value)),
                          VI_SUCCESS);
            ViFindList list = VI_NULL;
            ViUInt32 count = 0;
            char found[256] = {};
            ASSERT_EQ(viFindRsrc(rm, "?*INSTR", &list, &count, found), VI_SUCCESS);
            viClose(list);
        } else {
            serving("tcp", sim->UsbipPort(), "usbip");
            const std::string server = sim->UsbipServer();
            ASSERT_EQ(viSetAttribute(rm, QVI_ATTR_USBIP_SERVERS,
                                     reinterpret_cast<ViAttrState>(server.c_str())),
                      VI_SUCCESS);
            resource = sim->UsbResource();
        }

        ViSession vi = VI_NULL;
        ASSERT_EQ(viOpen(rm, resource.c_str(), VI_NULL, 0, &vi), VI_SUCCESS) << resource;
        // The status byte is asked once an error is in the queue (the
        // answer to *IDN? comes after it) and while a reply waits, so that it
        // is not zero: the simulator shows the one over HiSLIP, the other
        // over VXI-11 and USB.
        char idn[256] = {};
        ASSERT_EQ(viPrintf(vi, ":NO:SUCH:COMMAND\n"), VI_SUCCESS);
        ASSERT_EQ(viQueryf(vi, "*IDN?\n", "%t", idn), VI_SUCCESS);
        ASSERT_EQ(viPrintf(vi, "*IDN?\n"), VI_SUCCESS);
        ASSERT_EQ(viReadSTB(vi, &m_seen.stb), VI_SUCCESS);
        ASSERT_NE(m_seen.stb, 0);
        ASSERT_EQ(viScanf(vi, "%t", idn), VI_SUCCESS);
        m_seen.idn = idn;
        std::vector<unsigned char> block(kBlockSize + 100);
        m_seen.blockCount = static_cast<ViUInt32>(block.size());
        ASSERT_EQ(viQueryf(vi, ":TEST:BLOCK? %u\n", "%#b\n", kBlockSize, &m_seen.blockCount,
                           block.data()),
                  VI_SUCCESS);
        ASSERT_EQ(m_seen.blockCount, kBlockSize);
        ASSERT_EQ(viLock(vi, VI_EXCLUSIVE_LOCK, 1000, nullptr, nullptr), VI_SUCCESS);
        ASSERT_EQ(viUnlock(vi), VI_SUCCESS);
        ASSERT_EQ(viClear(vi), VI_SUCCESS);
        closeRm.reset();
        sim.reset(); // stopped: every connection is in the file

        std::string problems;
        m_pdus = Decode(m_dir, pcap, decodeAs, serverPorts, protocols, problems, tolerated);
        ASSERT_EQ(problems, "");
        ASSERT_FALSE(m_pdus.empty());
    }

    // The length of the block reply "#6150000<data>\n".
    std::size_t BlockReplySize() const {
        return 2 + std::to_string(m_seen.blockCount).size() + m_seen.blockCount + 1;
    }

    TempDir m_dir;
    int m_corePort = 0; // the simulator's VXI-11 core port
    Seen m_seen;
    std::vector<Pdu> m_pdus;
};

TEST_F(WireDecoder, HislipChannelsCarryTheMessagesInTheirPrescribedOrder) {
    // The dissector shows Data as text: a binary block gives it "trailing
    // stray characters" after the first NUL byte, which is no fault of ours.
    ASSERT_NO_FATAL_FAILURE(Record(Link::Hislip, {"hislip"}, "Trailing stray characters"));
    const std::vector<Pdu> sync = OnStream(m_pdus, "tcp 0"), async = OnStream(m_pdus, "tcp 1");
    // A response may come in Data messages before its DataEnd.
    const auto type = [](const Pdu& p) {
        const std::string t = p["hislip.messagetype"].label;
        return t == "Data" ? std::string() : t;
    };
    EXPECT_EQ(Sequence(sync, type, false),
              "C:Initialize S:InitializeResponse C:DataEnd C:DataEnd S:DataEnd C:DataEnd "
              "S:DataEnd C:DataEnd S:DataEnd C:DeviceClearComplete S:DeviceClearAcknowledge");
    EXPECT_EQ(Sequence(async, type, false),
              "C:AsyncInitialize S:AsyncInitializeResponse C:AsyncMaximumMessageSize "
              "S:AsyncMaximumMessageSizeResponse C:AsyncStatusQuery S:AsyncStatusResponse "
              "C:AsyncLock S:AsyncLockResponse C:AsyncLock S:AsyncLockResponse "
              "C:AsyncDeviceClear S:AsyncDeviceClearAcknowledge");
    ASSERT_GE(sync.size(), 11u);
    ASSERT_EQ(async.size(), 12u);

    // The session id the server gave is the one the asynchronous channel names.
    EXPECT_EQ(sync[0]["hislip.data"].hex, Hex("hislip0"));
    EXPECT_EQ(sync[1]["hislip.msgpara.sessionid"].show, async[0]["hislip.msgpara.sessionid"].show);
    // The client's messages take ids 2 apart from the first and say whether
    // a whole response was read since the one before (RMT delivered); each
    // response carries the id of its query, and its bytes are what the
    // client read.
    std::vector<unsigned long> ids, rmt;
    std::map<unsigned long, std::string> responses; // id -> payload bytes (hex)
    std::map<unsigned long, std::size_t> lengths;   // id -> payload length
    for (const Pdu& p : sync) {
        if (p["hislip.messagetype"].label.rfind("Data", 0) != 0)
            continue;
        const unsigned long id = p.Number("hislip.msgpara.messageid");
        if (p.fromClient) {
            ids.push_back(id);
            rmt.push_back(p.Number("hislip.controlcode.rmt"));
            continue;
        }
        lengths[id] += p.Number("hislip.payloadlength");
        if (lengths[id] < 1000) // the bytes of the short one, the length of the block
            responses[id] += p["hislip.data"].hex;
    }
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_EQ(ids[0], 0xFFFFFF00u);
    for (std::size_t i = 1; i < ids.size(); ++i)
        EXPECT_EQ(ids[i], ids[i - 1] + 2);
    EXPECT_EQ(rmt, (std::vector<unsigned long>{0, 0, 1, 1}));
    EXPECT_EQ(lengths.size(), 3u); // no response to the command
    EXPECT_EQ(responses[ids[1]], Hex(m_seen.idn));
    EXPECT_EQ(responses[ids[2]], Hex(m_seen.idn));
    EXPECT_EQ(lengths[ids[3]], BlockReplySize());

    // The status query names the last message (the second *IDN?, its
    // response not read yet, so no RMT delivered since); the answer is the
    // status byte the client returned. The lock asks with the client's
    // timeout and is granted.
    EXPECT_EQ(async[4].Number("hislip.msgpara.messageid"), ids[2]);
    EXPECT_EQ(async[4].Number("hislip.controlcode.rmt"), 0u);
    EXPECT_EQ(async[5].Number("hislip.controlcode.stb"), m_seen.stb);
    EXPECT_EQ(async[6].Number("hislip.msgpara.timeout"), 1000u);
    EXPECT_EQ(async[7]["hislip.controlcode.asynclockresponse"].label, "Success");
}

TEST_F(WireDecoder, Vxi11CallsFollowThePortmapperAndEachIsAnswered) {
    ASSERT_NO_FATAL_FAILURE(Record(Link::Vxi11, {"portmap", "vxi11_core"}));
    // The probe's datagram, then the connection's own question.
    for (const char* stream : {"udp 0", "tcp 0"}) {
        const std::vector<Pdu> portmap = OnStream(m_pdus, stream);
        EXPECT_EQ(Sequence(portmap, LabelOf("portmap.procedure_v2"), true), "C:GETPORT S:GETPORT")
            << stream;
        ASSERT_EQ(portmap.size(), 2u) << stream;
        EXPECT_EQ(portmap[1]["portmap.port"].show, std::to_string(m_corePort)) << stream;
    }
    const std::vector<Pdu> core = OnStream(m_pdus, "tcp 1");
    EXPECT_EQ(Sequence(core, LabelOf("vxi11_core.procedure_v1"), true),
              "C:CREATE_LINK S:CREATE_LINK C:DEVICE_WRITE S:DEVICE_WRITE C:DEVICE_READ "
              "S:DEVICE_READ C:DEVICE_WRITE S:DEVICE_WRITE C:DEVICE_READSTB S:DEVICE_READSTB "
              "C:DEVICE_READ S:DEVICE_READ C:DEVICE_WRITE S:DEVICE_WRITE C:DEVICE_READ "
              "S:DEVICE_READ C:DEVICE_LOCK S:DEVICE_LOCK C:DEVICE_UNLOCK S:DEVICE_UNLOCK "
              "C:DEVICE_CLEAR S:DEVICE_CLEAR C:DESTROY_LINK S:DESTROY_LINK");
    // Each reply answers the call before it, without an error; what the
    // reads return after each write is what the client read.
    std::map<std::string, std::string> replies; // written bytes -> read bytes (hex)
    std::map<std::string, std::size_t> lengths;
    std::string written;
    for (std::size_t i = 0; i < core.size(); ++i) {
        const Pdu& p = core[i];
        const std::string procedure = p["vxi11_core.procedure_v1"].label;
        if (p.fromClient) {
            if (procedure == "DEVICE_WRITE") {
                written = p["vxi11_core.data"].hex;
                replies.erase(written);
                lengths.erase(written);
            } else if (procedure == "DEVICE_LOCK") {
                EXPECT_EQ(p.Number("vxi11_core.lock_timeout"), 1000u);
            }
            continue;
        }
        ASSERT_GT(i, 0u);
        EXPECT_EQ(p["rpc.xid"].show, core[i - 1]["rpc.xid"].show);
        EXPECT_EQ(p.Number("vxi11_core.error"), 0u) << procedure;
        if (procedure == "DEVICE_READ") {
            lengths[written] += p["vxi11_core.data"].size;
            if (lengths[written] < 1000)
                replies[written] += p["vxi11_core.data"].hex;
        }
        if (procedure == "DEVICE_READSTB") {
            EXPECT_EQ(p.Number("vxi11_core.stb"), m_seen.stb);
        }
    }
    EXPECT_EQ(replies[Hex("*IDN?\n")], Hex(m_seen.idn));
    EXPECT_EQ(lengths[Hex(":TEST:BLOCK? " + std::to_string(kBlockSize) + "\n")], BlockReplySize());
}

TEST_F(WireDecoder, UsbipImportsTheDeviceAndEachUrbIsAnswered) {
    ASSERT_NO_FATAL_FAILURE(Record(Link::Usb, {"usbip"}));
    const std::vector<Pdu> list = OnStream(m_pdus, "tcp 0"), device = OnStream(m_pdus, "tcp 1");
    EXPECT_EQ(Sequence(list, LabelOf("usbip.operation"), true),
              "C:OP_REQ_DEVLIST S:OP_REP_DEVLIST");
    // The device's requests, by endpoint; control requests by the name the
    // USB dissector gives (standard) or their number (USBTMC's own).
    const auto request = [](const Pdu& p) -> std::string {
        if (!p["usbip.operation"].label.empty())
            return p["usbip.operation"].label;
        if (p["usbip.urb"].label != "OP_CMD_SUBMIT")
            return {};
        const unsigned long endpoint = p.Number("usbip.endpoint_number");
        if (endpoint == 0)
            return "control " + p["usb.setup.bRequest"].label;
        return (p.Number("usbip.endpoint_number.direction") ? "IN " : "OUT ") +
               std::to_string(endpoint);
    };
    // Descriptors, configuration, capabilities and remote mode; the
    // commands; the status byte (READ_STATUS_BYTE and its interrupt); the
    // replies; the clear (INITIATE_CLEAR, CHECK_CLEAR_STATUS, the bulk-OUT
    // halt cleared).
    EXPECT_EQ(Sequence(device, request, true),
              "C:OP_REQ_IMPORT S:OP_REP_IMPORT C:control GET DESCRIPTOR C:control SET "
              "CONFIGURATION C:control 7 C:control 160 C:OUT 1 C:IN 2 C:OUT 1 C:control 128 "
              "C:IN 3 C:OUT 1 C:IN 2 C:control 5 C:control 6 C:control CLEAR FEATURE");
    std::string bulkIn, interrupt;
    for (std::size_t i = 0; i < device.size(); ++i) {
        const Pdu& p = device[i];
        if (p["usbip.urb"].label != "OP_RET_SUBMIT")
            continue;
        // The client waits for each URB before it sends the next.
        ASSERT_GT(i, 0u);
        EXPECT_EQ(p["usbip.sequence_no"].show, device[i - 1]["usbip.sequence_no"].show);
        EXPECT_EQ(p.Number("usbip.status"), 0u) << p["frame.number"].show;
        if (p.Number("usbip.endpoint_number") == 2 && bulkIn.size() < 1000)
            bulkIn += p["usb.capdata"].hex;
        if (p.Number("usbip.endpoint_number") == 3)
            interrupt = p["usb.capdata"].hex;
    }
    EXPECT_NE(bulkIn.find(Hex(m_seen.idn)), std::string::npos) << bulkIn;
    // The interrupt's second byte is the status byte.
    ASSERT_EQ(interrupt.size(), 4u);
    EXPECT_EQ(interrupt.substr(2), Hex(std::string(1, static_cast<char>(m_seen.stb))));
}

} // namespace
