#include "sim/sim_options.h"

#include "sim/family_registry.h"
#include "sim/net.h"

#include <charconv>
#include <functional>
#include <limits>
#include <string_view>

namespace quarvel::sim {
namespace {

template <typename T> bool ParseNumber(const std::string& text, T low, T high, T& value) {
    T v{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high)
        return false;
    value = v;
    return true;
}

struct Option {
    std::string_view name;
    std::string_view argument; // empty: a flag
    std::string_view help;
    // Applies the value; false when it is not acceptable.
    std::function<bool(SimOptions&, const std::string&)> apply;
};

bool Port(const std::string& text, std::uint16_t& port) {
    return ParseNumber<std::uint16_t>(text, 0, 65535, port);
}

const std::vector<Option>& OptionTable() {
    static const std::vector<Option> options = {
        {"--instrument", "NAME", "family to simulate (default generic)",
         [](SimOptions& o, const std::string& v) {
             o.instrument = v;
             for (const FamilyInfo& f : Families())
                 if (f.name == v)
                     return true;
             return false;
         }},
        {"--idn", "TEXT", "*IDN? reply (default: a real model of the family)",
         [](SimOptions& o, const std::string& v) {
             o.idn = v;
             return !v.empty();
         }},
        {"--address", "127.X.Y.Z",
         "loopback address to listen on (default 127.0.0.1; ::1 for IPv6, TCP services only)",
         [](SimOptions& o, const std::string& v) {
             o.address = v;
             return IsLoopbackAddress(v);
         }},
        {"--socket-port", "N", "raw SOCKET port (default 5025; 0 picks a free port)",
         [](SimOptions& o, const std::string& v) { return Port(v, o.socketPort); }},
        {"--portmapper-port", "N|none",
         "portmapper port (default 111; 0 free; none: no portmapper)",
         [](SimOptions& o, const std::string& v) {
             o.portmapper = v != "none";
             return !o.portmapper || Port(v, o.portmapperPort);
         }},
        {"--hislip-port", "N|none", "HiSLIP port (default 4880; 0 free; none: no HiSLIP)",
         [](SimOptions& o, const std::string& v) {
             o.hislip = v != "none";
             return !o.hislip || Port(v, o.hislipPort);
         }},
        {"--usbip-port", "N|none",
         "USB/IP server exporting the instrument as a USB device (default none; 0 free; the "
         "standard port is 3240)",
         [](SimOptions& o, const std::string& v) {
             o.usbip = v != "none";
             return !o.usbip || Port(v, o.usbipPort);
         }},
        {"--usb-full-speed", "", "USB: a full-speed device with 64-byte bulk packets",
         [](SimOptions& o, const std::string&) { return o.usb.fullSpeed = true; }},
        {"--usb-stall-in", "", "fault: USB bulk-IN never sends the reply (until aborted)",
         [](SimOptions& o, const std::string&) { return o.usb.stallIn = true; }},
        {"--usb-wrong-tag", "", "fault: USB reply transfers carry a wrong bTag",
         [](SimOptions& o, const std::string&) { return o.usb.wrongTag = true; }},
        {"--usb-split", "N", "fault: USB replies in transfers of N bytes, EOM on the last",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<std::size_t>(v, 1, 1 << 24, o.usb.splitTransfers);
         }},
        {"--usb-packets", "N",
         "quirk: USB bulk-IN packets of N bytes on a 512-byte endpoint, each ending the host's "
         "transfer early (Rigol DS1054Z)",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<std::size_t>(v, 1, 511, o.usb.inPacketSize);
         }},
        {"--usbip-exclusive", "",
         "USB/IP: one importer at a time, others refused as busy (as usbipd does)",
         [](SimOptions& o, const std::string&) { return o.usb.exclusiveImport = true; }},
        {"--usbip-import-gap", "MS",
         "USB/IP: imports refused for MS ms after an importer leaves (usbipd resets the device)",
         [](SimOptions& o, const std::string& v) {
             unsigned ms = 0;
             if (!ParseNumber<unsigned>(v, 0, 60000, ms))
                 return false;
             o.usb.importGap = std::chrono::milliseconds(ms);
             return true;
         }},
        {"--usb-no-zlp", "",
         "quirk: no zero-length packet after a USB transfer of whole packets (Rigol)",
         [](SimOptions& o, const std::string&) { return o.usb.noZeroLengthPacket = true; }},
        {"--usb-max-transfer", "N",
         "quirk: USB read requests over N bytes go unanswered (default: the family's "
         "firmware limit, 48 for siglent; 0: none)",
         [](SimOptions& o, const std::string& v) {
             std::uint32_t n = 0;
             if (!ParseNumber<std::uint32_t>(v, 0, 1u << 30, n))
                 return false;
             o.usb.maxTransferSize = n;
             return true;
         }},
        {"--usb-extra-bytes", "N",
         "quirk: USB reply transfers carry up to N bytes more than the host asked for",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<std::size_t>(v, 0, 1 << 16, o.usb.extraBytes);
         }},
        {"--usb-no-interrupt", "",
         "USB: no interrupt-IN endpoint; the status byte comes in the control reply",
         [](SimOptions& o, const std::string&) { return o.usb.noInterruptEndpoint = true; }},
        {"--usb-empty-first", "", "quirk: an empty USB transfer before each reply (Rigol)",
         [](SimOptions& o, const std::string&) { return o.usb.emptyFirstTransfer = true; }},
        {"--transcript", "FILE", "append every program message received to FILE",
         [](SimOptions& o, const std::string& v) {
             o.transcriptPath = v;
             return !v.empty();
         }},
        {"--pcap", "FILE",
         "record every connection served (and portmapper datagram) to FILE for Wireshark",
         [](SimOptions& o, const std::string& v) {
             o.pcapPath = v;
             return !v.empty();
         }},
        {"--replay", "LOG",
         "play the instrument a Quarvel I/O log recorded (QUARVEL_IO_LOG), its binary replies "
         "from the side file the log names; replaces --instrument",
         [](SimOptions& o, const std::string& v) {
             o.replayPath = v;
             return !v.empty();
         }},
        {"--replay-speed", "X", "divide the recorded delays by X (default 1; 0: answer at once)",
         [](SimOptions& o, const std::string& v) {
             double speed = 0;
             const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), speed);
             if (ec != std::errc() || end != v.data() + v.size() || !(speed >= 0) || speed > 1e6)
                 return false;
             o.replaySpeed = speed;
             return true;
         }},
        {"--dump-images", "DIR", "write every image served to DIR/image-NNNN.<ext>",
         [](SimOptions& o, const std::string& v) {
             o.dumpImagesDir = v;
             return !v.empty();
         }},
        {"--delay-ms", "N", "fault: wait N ms before each reply",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber(v, 0, 3'600'000, o.faults.delayMs);
         }},
        {"--rate", "KBPS", "fault: send every reply at KBPS kilobytes (1000 bytes) a second",
         [](SimOptions& o, const std::string& v) {
             std::size_t kbps = 0;
             if (!ParseNumber<std::size_t>(v, 1, 10'000'000, kbps))
                 return false;
             o.faults.rateBytesPerSecond = kbps * 1000;
             return true;
         }},
        {"--block-cut", "N", "fault: send only N data bytes of a block, then end the reply",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<long long>(v, 0, std::numeric_limits<int>::max(),
                                           o.faults.blockCut);
         }},
        {"--block-overclaim", "N", "fault: block header claims N bytes more than sent",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<long long>(v, 1, 900'000'000, o.faults.blockOverclaim);
         }},
        {"--garbage", "", "fault: garbage instead of each reply",
         [](SimOptions& o, const std::string&) { return o.faults.garbage = true; }},
        {"--drop-mid-reply", "", "fault: close the connection halfway through a reply",
         [](SimOptions& o, const std::string&) { return o.faults.dropMidReply = true; }},
        {"--tiny-pieces", "N", "fault: send replies in TCP pieces of N bytes",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<std::size_t>(v, 1, 1 << 20, o.faults.tinyPieces);
         }},
        {"--max-recv-size", "N",
         "VXI-11 maxRecvSize (default 1048576; small forces chunked writes)",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<std::uint32_t>(v, 1, 16u << 20, o.faults.maxRecvSize);
         }},
        {"--hislip-fragment", "N",
         "fault: HiSLIP replies in Data messages of N bytes before the DataEnd",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<std::size_t>(v, 1, 1 << 20, o.faults.hislipFragment);
         }},
        {"--hislip-error", "", "fault: a HiSLIP Error message instead of each reply",
         [](SimOptions& o, const std::string&) { return o.faults.hislipError = true; }},
        {"--hislip-fatal", "", "fault: a HiSLIP FatalError instead of a reply, then close",
         [](SimOptions& o, const std::string&) { return o.faults.hislipFatal = true; }},
        {"--hislip-stall", "", "fault: hold each HiSLIP reply back until a device clear",
         [](SimOptions& o, const std::string&) { return o.faults.hislipStall = true; }},
        {"--reply-fragments", "N",
         "fault: VXI-11 replies in record-marking fragments of at most N bytes",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<std::uint32_t>(v, 1, 16u << 20, o.faults.replyFragment);
         }},
        {"--stale-replies", "", "fault: each VXI-11 reply follows a late copy of the previous one",
         [](SimOptions& o, const std::string&) { return o.faults.staleReplies = true; }},
        {"--fault-on", "HEADER",
         "apply the faults only to replies of this query (e.g. :DISPlay:DATA?)",
         [](SimOptions& o, const std::string& v) {
             o.faultOn = v;
             return !v.empty();
         }},
        {"--siglent-reply-headers", "",
         "quirk: Siglent replies carry their command header (TRMD AUTO, *OPC 1)",
         [](SimOptions& o, const std::string&) { return o.quirks.siglentReplyHeaders = true; }},
        {"--siglent-idn-header", "",
         "quirk: older Siglent firmware puts the header on *IDN? too (*IDN SIGLENT,...)",
         [](SimOptions& o, const std::string&) { return o.quirks.siglentIdnHeader = true; }},
        {"--siglent-raw-scdp", "", "quirk: Siglent SCDP sends the BMP without a block header",
         [](SimOptions& o, const std::string&) { return o.quirks.siglentRawScdp = true; }},
        {"--siglent-scdp-terminator", "", "quirk: a line feed follows that bare BMP file",
         [](SimOptions& o, const std::string&) { return o.quirks.siglentScdpTerminator = true; }},
        {"--rigol-block-tail", "0|1|3",
         "quirk: bytes after the Rigol image block: none, 0A (default) or 00 00 0A",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber(v, 0, 3, o.quirks.rigolBlockTail) && o.quirks.rigolBlockTail != 2;
         }},
        {"--waveform-points", "N",
         "oscilloscope record length in points when stopped (default: the family's)",
         [](SimOptions& o, const std::string& v) {
             // Up to the DHO4000's 500 M points; data are made per query.
             return ParseNumber<long long>(v, 1, 500000000, o.quirks.waveformPoints);
         }},
        {"--waveform-page", "N",
         "most points one waveform data query returns (default: the family's manual)",
         [](SimOptions& o, const std::string& v) {
             return ParseNumber<long long>(v, 1, 100000000, o.quirks.waveformPage);
         }},
        {"--rigol-swapped-format-codes", "",
         "quirk: the Rigol preamble gives 1 for BYTE and 0 for WORD (DS2000 guide)",
         [](SimOptions& o, const std::string&) { return o.quirks.rigolSwappedFormatCodes = true; }},
        {"--tektronix-curve-junk", "",
         "quirk: bytes after the Tektronix CURVe? block, before its line feed",
         [](SimOptions& o, const std::string&) { return o.quirks.tektronixCurveJunk = true; }},
        {"--tektronix-no-wfid", "", "quirk: the Tektronix preamble lacks its WFId field",
         [](SimOptions& o, const std::string&) { return o.quirks.tektronixNoWaveformId = true; }},
        {"--tektronix-headers", "", "quirk: Tektronix HEADer ON, replies as set commands",
         [](SimOptions& o, const std::string&) { return o.quirks.tektronixHeaders = true; }},
        {"--habit", "NAME=VALUE",
         "a habit of the instrument's firmware (repeatable; see Habits below)",
         [](SimOptions& o, const std::string& v) {
             const std::size_t eq = v.find('=');
             if (eq == std::string::npos || eq == 0)
                 return false;
             o.habits.emplace_back(v.substr(0, eq), v.substr(eq + 1));
             return true;
         }},
        {"--image-query", "HEADER",
         "generic: this query answers a screen image (e.g. :DISPlay:SHOT?)",
         [](SimOptions& o, const std::string& v) {
             o.imageQuery = v;
             return CommandTable().Add(v, [](const CommandCall&, CommandResult&) {});
         }},
        {"--image-framing", "block|raw",
         "generic: that image as a definite block (default) or raw PNG ended by END",
         [](SimOptions& o, const std::string& v) {
             o.imageRaw = v == "raw";
             return v == "raw" || v == "block";
         }},
        {"--publish", "",
         "announce the HiSLIP, VXI-11 and socket services by DNS-SD through the Avahi daemon",
         [](SimOptions& o, const std::string&) { return o.publish = true; }},
        {"--help", "", "show this help",
         [](SimOptions& o, const std::string&) { return o.help = true; }},
        {"--version", "", "show the version",
         [](SimOptions& o, const std::string&) { return o.version = true; }},
    };
    return options;
}

// Options that only make sense together with the chosen instrument.
bool CheckAgainstInstrument(const SimOptions& options, std::string& error) {
    const FamilyInfo* family = FindFamily(options.instrument);
    if (family == nullptr)
        return true; // --instrument reported it
    for (const auto& [name, value] : options.habits) {
        const HabitInfo* habit = nullptr;
        for (const HabitInfo& h : family->habits)
            if (h.name == name)
                habit = &h;
        if (habit == nullptr) {
            error = options.instrument + " has no habit " + name;
            return false;
        }
        std::string why;
        if (!CheckHabitValue(*habit, value, why)) {
            error = "bad --habit " + name + "=" + value + ": " + why;
            return false;
        }
    }
    if (!options.imageQuery.empty() && options.instrument != "generic") {
        error = "--image-query is for --instrument generic";
        return false;
    }
    return true;
}

} // namespace

InstrumentSetup SetupFor(const SimOptions& options) {
    InstrumentSetup setup;
    setup.idn = options.idn;
    setup.quirks = options.quirks;
    for (const auto& [name, value] : options.habits)
        setup.habits.Set(name, value);
    setup.imageQuery = options.imageQuery;
    setup.imageRaw = options.imageRaw;
    return setup;
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Option* found = nullptr;
        for (const Option& option : OptionTable())
            if (args[i] == option.name)
                found = &option;
        if (found == nullptr) {
            error = "unknown option: " + args[i];
            return false;
        }
        std::string value;
        if (!found->argument.empty()) {
            if (i + 1 >= args.size()) {
                error = args[i] + " needs " + std::string(found->argument);
                return false;
            }
            value = args[++i];
        }
        if (!found->apply(options, value)) {
            error = "bad value for " + args[i - (found->argument.empty() ? 0 : 1)] + ": " + value;
            return false;
        }
    }
    return CheckAgainstInstrument(options, error);
}

std::string SimUsage() {
    std::string text =
        "Usage: quarvel-sim [OPTION]...\n"
        "Simulates a test and measurement instrument on loopback: raw SOCKET, VXI-11 with a\n"
        "portmapper, HiSLIP and, when asked, a USB device over USB/IP. Prints one line per\n"
        "endpoint (socket, vxi11, portmapper, hislip, usbip) and serves until SIGTERM or\n"
        "SIGINT.\n\nOptions:\n";
    for (const Option& option : OptionTable()) {
        std::string left = "  " + std::string(option.name);
        if (!option.argument.empty())
            left += " " + std::string(option.argument);
        left.resize(std::max<std::size_t>(left.size() + 2, 32), ' ');
        text += left + std::string(option.help) + "\n";
    }
    text += "\nInstruments:\n";
    for (const FamilyInfo& f : Families()) {
        std::string left = "  " + std::string(f.name);
        left.resize(20, ' ');
        text += left + std::string(f.defaultIdn) + "\n";
    }
    text += "\nHabits (--habit NAME=VALUE; the default is what the real firmware does):\n";
    for (const FamilyInfo& f : Families()) {
        for (const HabitInfo& h : f.habits) {
            std::string left = "  " + std::string(f.name) + " " + std::string(h.name) + "=" +
                               std::string(h.values);
            left.resize(std::max<std::size_t>(left.size() + 2, 40), ' ');
            text += left + std::string(h.help) + " (default " + std::string(h.defaultValue) + ")\n";
        }
    }
    return text;
}

} // namespace quarvel::sim
