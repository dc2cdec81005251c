// quarvel-cli capture --waveforms against the Tektronix personas that are
// definitions (tek-mso, tek-mdo, tek-tbs), over a LAN socket and over USB
// (USB/IP). The CSV values must equal what this test computes itself from
// the codes the simulator serves, decoded as the preamble describes them and
// scaled with the programmer manuals' formula
//   V = (code - YOFF) * YMULT + YZERO,  t = XZERO + (i - PT_OFF) * XINCR
// through a VISA session of the test's own, never through Quarvel's parser.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include "visa/visa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

namespace quarvel::test {
namespace {

// A raw VISA session to the simulator's socket, for the reference reads.
class Panel {
public:
    explicit Panel(const std::string& resource) {
        viOpenDefaultRM(&m_rm);
        viOpen(m_rm, resource.c_str(), VI_NULL, 5000, &m_vi);
        viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    }
    ~Panel() { viClose(m_rm); }
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    void Send(const std::string& command) const { viPrintf(m_vi, "%s\n", command.c_str()); }
    std::string Query(const std::string& command) const {
        Send(command);
        std::string reply;
        char chunk[512];
        ViStatus status = VI_SUCCESS_MAX_CNT;
        while (status == VI_SUCCESS_MAX_CNT) {
            ViUInt32 n = 0;
            status = viRead(m_vi, reinterpret_cast<ViByte*>(chunk), sizeof chunk, &n);
            reply.append(chunk, n);
        }
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
            reply.pop_back();
        return reply;
    }
    // The data bytes of the block in the reply to `query`; whatever follows
    // them is dropped.
    std::string Block(const std::string& query) const {
        Send(query);
        std::string reply;
        std::size_t need = SIZE_MAX;
        std::size_t start = 0;
        while (reply.size() < need) {
            char chunk[65536];
            ViUInt32 n = 0;
            if (viRead(m_vi, reinterpret_cast<ViByte*>(chunk), sizeof chunk, &n) < VI_SUCCESS ||
                n == 0)
                break;
            reply.append(chunk, n);
            const std::size_t hash = reply.find('#');
            if (need == SIZE_MAX && hash != std::string::npos && reply.size() > hash + 1) {
                const std::size_t digits = reply[hash + 1] - '0';
                if (reply.size() >= hash + 2 + digits) {
                    start = hash + 2 + digits;
                    need = start + std::stoul(reply.substr(hash + 2, digits));
                }
            }
        }
        // The rest of the reply, up to its line feed (a data byte 0A may
        // have ended the last read).
        viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 300);
        for (std::string tail = reply.substr(std::min(need, reply.size()));
             tail.find('\n') == std::string::npos;) {
            char byte = 0;
            ViUInt32 n = 0;
            if (viRead(m_vi, reinterpret_cast<ViByte*>(&byte), 1, &n) < VI_SUCCESS || n == 0)
                break;
            tail += byte;
        }
        viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 5000);
        return need == SIZE_MAX ? std::string() : reply.substr(start, need - start);
    }

private:
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

// How a family is read: the programmer manual's transfer settings.
struct Transfer {
    const char* preambleQuery; // WFMOutpre? or WFMPre?
    const char* encoding;      // SRIbinary (least significant byte first) or RIBinary
    int width;
    bool recordLengthQuery; // DATa:STOP from HORizontal:RECOrdlength?, else 2500
};
constexpr Transfer kMso{"WFMOutpre?", "SRIbinary", 2, true};
constexpr Transfer kMdo{"WFMOutpre?", "SRIbinary", 1, true};
constexpr Transfer kTbs{"WFMPre?", "RIBinary", 1, false};

struct Expected {
    std::vector<double> x;
    std::vector<std::vector<double>> y;
};

// The preamble's fields by their long names (HEADer 1, VERBose 1).
std::map<std::string, std::string> PreambleFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::stringstream in(text);
    std::string element;
    while (std::getline(in, element, ';')) {
        const std::size_t space = element.find(' ');
        std::string name = element.substr(0, space);
        name.erase(0, name.rfind(':') + 1); // ":WFMOUTPRE:BYT_NR" -> "BYT_NR"
        fields[name] = element.substr(space + 1);
    }
    return fields;
}

// Sample i of the curve: integers of BYT_NR bytes, signed (RI) or not (RP),
// or 4-byte floats (FP), in the BYT_OR order.
double Sample(const std::string& codes, std::size_t i, std::map<std::string, std::string>& f) {
    const std::size_t width = std::stoul(f.at("BYT_NR"));
    std::uint32_t word = 0;
    for (std::size_t k = 0; k < width; ++k) {
        const std::size_t at = i * width + (f.at("BYT_OR") == "LSB" ? width - 1 - k : k);
        word = word << 8 | static_cast<unsigned char>(codes[at]);
    }
    if (f.at("BN_FMT") == "FP")
        return std::bit_cast<float>(word);
    const bool negative = f.at("BN_FMT") == "RI" && (word >> (8 * width - 1)) != 0;
    return negative ? static_cast<double>(word) - std::ldexp(1.0, 8 * static_cast<int>(width))
                    : static_cast<double>(word);
}

Expected Reference(const Panel& scope, const Transfer& transfer,
                   const std::vector<std::string>& sources) {
    Expected e;
    scope.Send("HEADer 1");
    scope.Send("VERBose 1");
    for (const std::string& source : sources) {
        scope.Send("DATa:SOUrce " + source);
        scope.Send(std::string("DATa:ENCdg ") + transfer.encoding);
        scope.Send("DATa:WIDth " + std::to_string(transfer.width));
        scope.Send("DATa:STARt 1");
        // ":HORIZONTAL:RECORDLENGTH 20000": the number after the header.
        const std::string length =
            transfer.recordLengthQuery ? scope.Query("HORizontal:RECOrdlength?") : "2500";
        const std::string record = length.substr(length.rfind(' ') + 1);
        scope.Send("DATa:STOP " + record);
        auto f = PreambleFields(scope.Query(transfer.preambleQuery));
        const std::string codes = scope.Block("CURVe?");
        const std::size_t points = codes.size() / std::stoul(f.at("BYT_NR"));
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < points; ++i) {
            y.push_back((Sample(codes, i, f) - std::stod(f.at("YOFF"))) * std::stod(f.at("YMULT")) +
                        std::stod(f.at("YZERO")));
            e.x.push_back(std::stod(f.at("XZERO")) +
                          (static_cast<double>(i) - std::stod(f.at("PT_OFF"))) *
                              std::stod(f.at("XINCR")));
        }
        e.y.push_back(y);
    }
    return e;
}

bool Near(double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::abs(b) + 1e-15;
}

void ExpectCsvEquals(const std::string& csv, const Expected& e,
                     const std::vector<std::string>& sources) {
    std::stringstream in(csv);
    std::string line;
    std::getline(in, line);
    std::string header = "time/s";
    for (const std::string& s : sources)
        header += ";" + s + "(voltage/V)";
    ASSERT_EQ(line, header + "\r");
    ASSERT_FALSE(e.x.empty());
    std::size_t row = 0;
    while (std::getline(in, line)) {
        ASSERT_LT(row, e.x.size()) << "more rows than points";
        std::vector<double> values;
        std::stringstream fields(line);
        std::string f;
        while (std::getline(fields, f, ';'))
            values.push_back(std::strtod(f.c_str(), nullptr));
        ASSERT_EQ(values.size(), sources.size() + 1) << "row " << row;
        ASSERT_TRUE(Near(values[0], e.x[row])) << "row " << row << ": " << line;
        for (std::size_t c = 0; c < sources.size(); ++c)
            ASSERT_TRUE(Near(values[c + 1], e.y[c][row]))
                << sources[c] << " row " << row << ": " << line << " expected " << e.y[c][row];
        ++row;
    }
    EXPECT_EQ(row, e.x.size());
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names)
        text += (text.empty() ? "" : ",") + n;
    return text;
}

struct Family {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> atInstrument; // sent before the capture
    std::vector<std::string> sources;
    Transfer transfer;
};

const Family kFamilies[] = {
    // An eight-channel model: CH8 is offered; MATH1 comes as floats.
    {"Mso58",
     {"--instrument", "tek-mso", "--idn", "TEKTRONIX,MSO58,B010001,CF:91.1CT FV:1.44.3.433",
      "--waveform-points", "20000"},
     {"DISplay:GLObal:MATH1:STATE 1"},
     {"CH2", "CH8", "MATH1"},
     kMso},
    // No WFID (the fields move), junk after the curve, short headers found.
    {"MsoHabits",
     {"--instrument", "tek-mso", "--habit", "wfid=off", "--habit", "curve-junk=on"},
     {"HEADer 1", "VERBose 0", "DISplay:GLObal:REF1:STATE 1"},
     {"CH5", "REF1"},
     kMso},
    {"Mdo",
     {"--instrument", "tek-mdo"},
     {"SELect:MATH 1", "SELect:REF1 1"},
     {"CH1", "CH4", "MATH", "REF1"},
     kMdo},
    {"MdoHabits",
     {"--instrument", "tek-mdo", "--habit", "wfid=off", "--habit", "curve-junk=on",
      "--waveform-points", "5000"},
     {},
     {"CH3"},
     kMdo},
    {"Tbs",
     {"--instrument", "tek-tbs", "--habit", "hardcopy-delay-ms=0"},
     {},
     {"CH1", "CH2"},
     kTbs},
    {"TbsHabits",
     {"--instrument", "tek-tbs", "--idn", "TEKTRONIX,TDS 2024C,C010001,CF:91.1CT FV:v24.26",
      "--habit", "wfid=off", "--habit", "curve-junk=on", "--habit", "hardcopy-delay-ms=0"},
     {},
     {"CH3", "CH4"},
     kTbs},
};

// Sends the commands on a session of their own and waits until the
// simulator has carried them out (*OPC?), so that nothing of them arrives
// during the capture or after a transcript is cleared.
void SendAndWait(const SimProcess& sim, const std::vector<std::string>& commands) {
    const Panel panel(sim.SocketResource());
    for (const std::string& command : commands)
        panel.Send(command);
    panel.Query("*OPC?");
}

class TektronixWaveforms : public ::testing::TestWithParam<std::tuple<Family, bool>> {};

TEST_P(TektronixWaveforms, CsvHoldsTheManualsScalingOfTheServedCodes) {
    const auto& [family, usb] = GetParam();
    SimProcess sim(family.simArgs);
    ASSERT_TRUE(sim.Started());
    SendAndWait(sim, family.atInstrument);
    TempDir shots;
    TempDir logs;
    std::vector<std::string> args = {"capture", usb ? sim.UsbResource() : sim.SocketResource()};
    if (usb)
        args.insert(args.end(), {"--usbip", sim.UsbipServer()});
    args.insert(args.end(), {"--dir", shots.Path(), "--name", "shot", "--waveforms",
                             Joined(family.sources), "--timeout", "20000"});
    const CliRun run = RunCli(logs, args);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Waveform data saving done.\n"), std::string::npos) << run.out;

    const Panel scope(sim.SocketResource());
    const Expected expected = Reference(scope, family.transfer, family.sources);
    ExpectCsvEquals(ReadFileText(shots.File("shot.csv")), expected, family.sources);
}

INSTANTIATE_TEST_SUITE_P(Families, TektronixWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kFamilies), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Usb" : "Socket");
                         });

// What the instrument cannot give is named per source; the other sources
// are still written, and a capture that wrote none fails.
TEST(TektronixWaveformFaults, MissingSourcesAreNamedAndNothingHalfIsWritten) {
    struct Case {
        const char* what;
        std::vector<std::string> simArgs;
        const char* atInstrument;
        const char* sources;
        int exitCode;
        const char* message;
        const char* csvHeader; // "": no data file
    };
    const Case cases[] = {
        {"a channel the four-channel model lacks, one switched off",
         {"--instrument", "tek-mso", "--idn", "TEKTRONIX,MSO54,B010001,CF:91.1CT FV:1.44.3.433"},
         "DISplay:GLObal:CH3:STATE 0",
         "CH1,CH3,CH6",
         0,
         "Waveform data saving done. CH6 is not offered by this instrument. CH3 is switched off.\n",
         "time/s;CH1(voltage/V)\r\n"},
        {"a curve shorter than its preamble",
         {"--instrument", "tek-mdo"},
         ":SIMulate:CURVe:SHORt CH2",
         "CH1,CH2",
         0,
         "Waveform data saving done. CH2: the curve brought 5000 of the 10000 points announced.\n",
         "time/s;CH1(voltage/V)\r\n"},
        {"a preamble without a readable scale",
         {"--instrument", "tek-tbs", "--habit", "hardcopy-delay-ms=0"},
         ":SIMulate:PREamble:BREak CH1",
         "CH1",
         1,
         "Waveform data saving done. CH1: the preamble lacks a readable NR_Pt, XINcr, XZEro, "
         "YMUlt, YZEro or YOFf.\n",
         ""},
    };
    TempDir logs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.Started());
        SendAndWait(sim, {c.atInstrument});
        TempDir shots;
        const CliRun run = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                         "--name", "shot", "--waveforms", c.sources});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
        if (*c.csvHeader == '\0')
            EXPECT_FALSE(PathExists(shots.File("shot.csv")));
        else
            EXPECT_EQ(ReadFileText(shots.File("shot.csv")).rfind(c.csvHeader, 0), 0u);
    }
}

int IndexOf(const std::vector<std::string>& received, const std::string& command, int from = 0) {
    for (int i = from; i < static_cast<int>(received.size()); ++i)
        if (received[i] == command)
            return i;
    return -1;
}

// A running acquisition is stopped for the data and run again afterwards,
// keeping its stop-after mode; a stopped one stays stopped; the header
// settings found are put back.
TEST(TektronixWaveformRunState, DataIsReadStoppedAndSettingsArePutBack) {
    struct Case {
        const char* what;
        std::vector<std::string> simArgs;
        std::vector<std::string> atInstrument;
        bool restarted;
        const char* restored;
    };
    const Case cases[] = {
        {"tek-mso running, short headers",
         {"--instrument", "tek-mso"},
         {"VERBose 0"},
         true,
         "HEADer 0;:VERBose 0"},
        {"tek-mdo stopped",
         {"--instrument", "tek-mdo"},
         {"ACQuire:STATE STOP"},
         false,
         "HEADer 0;:VERBose 1"},
        {"tek-tbs running with headers",
         {"--instrument", "tek-tbs", "--habit", "hardcopy-delay-ms=0"},
         {"HEADer 1"},
         true,
         "HEADer 1"},
    };
    TempDir logs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.Started());
        SendAndWait(sim, c.atInstrument);
        TempDir shots;
        sim.ClearTranscript();
        const CliRun run = RunCli(
            logs, {"capture", sim.SocketResource(), "--dir", shots.Path(), "--waveforms", "CH1"});
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        const std::vector<std::string> received = sim.Transcript();
        const int data = IndexOf(received, "CURVe?");
        ASSERT_GE(data, 0);
        EXPECT_EQ(IndexOf(received, "ACQuire:STATE STOP") >= 0, c.restarted);
        EXPECT_LT(IndexOf(received, "ACQuire:STATE STOP"), data);
        EXPECT_EQ(IndexOf(received, "ACQuire:STATE RUN", data) > data, c.restarted);
        EXPECT_GT(IndexOf(received, c.restored, data), data);
        EXPECT_EQ(IndexOf(received, "ACQuire:STOPAfter RUNSTop"), -1);
    }
}

} // namespace
} // namespace quarvel::test
