// quarvel-cli capture --waveforms against each oscilloscope persona, over a
// LAN socket and over USB (USB/IP): the values in the CSV file must equal
// what this test computes itself from the codes the simulator serves and
// the formula of the family's programming manual. The reference reads go
// through a VISA session of the test's own, with its own paging and
// parsing, never through the drivers' conversion.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include "capture/waveform_capture.h"
#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
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
    // The reply's first line that is not empty (a Siglent data block is
    // followed by two line feeds).
    std::string Query(const std::string& command) const {
        Send(command);
        std::string reply;
        for (int lines = 0; reply.empty() && lines < 3; ++lines) {
            char chunk[512];
            ViStatus status = VI_SUCCESS_MAX_CNT;
            while (status == VI_SUCCESS_MAX_CNT) {
                ViUInt32 n = 0;
                status = viRead(m_vi, reinterpret_cast<ViByte*>(chunk), sizeof chunk, &n);
                reply.append(chunk, n);
            }
            while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
                reply.pop_back();
        }
        return reply;
    }
    // A number with its unit, SI prefix included ("5.00E-01V",
    // "100.00MSa/s", "-20.00us").
    double Number(const std::string& query) const {
        const std::string reply = Query(query);
        char* end = nullptr;
        const double value = std::strtod(reply.c_str(), &end);
        const std::string prefixes = "pnumkMG";
        const double factors[] = {1e-12, 1e-9, 1e-6, 1e-3, 1e3, 1e6, 1e9};
        const std::size_t p = *end == '\0' ? std::string::npos : prefixes.find(*end);
        return p != std::string::npos && std::isalpha(static_cast<unsigned char>(end[1]))
                   ? value * factors[p]
                   : value;
    }
    // The data bytes of the block in the reply to `query`, whatever comes
    // before its '#' and after its data.
    std::string Block(const std::string& query) const {
        Send(query);
        std::string reply;
        std::size_t need = SIZE_MAX;
        std::size_t dataStart = 0;
        while (reply.size() < need) {
            char chunk[65536];
            ViUInt32 n = 0;
            const ViStatus status =
                viRead(m_vi, reinterpret_cast<ViByte*>(chunk), sizeof chunk, &n);
            if (status < VI_SUCCESS || n == 0)
                break;
            reply.append(chunk, n);
            const std::size_t hash = reply.find('#');
            if (need == SIZE_MAX && hash != std::string::npos && reply.size() > hash + 1) {
                const std::size_t digits = reply[hash + 1] - '0';
                if (reply.size() >= hash + 2 + digits) {
                    dataStart = hash + 2 + digits;
                    need = dataStart + std::stoul(reply.substr(hash + 2, digits));
                }
            }
        }
        ViUInt32 saved = 0;
        viGetAttribute(m_vi, VI_ATTR_TMO_VALUE, &saved);
        viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 300);
        viFlush(m_vi, VI_READ_BUF);
        viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, saved);
        return need == SIZE_MAX ? std::string() : reply.substr(dataStart, need - dataStart);
    }

private:
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

std::vector<double> Fields(const std::string& text) {
    std::vector<double> values;
    std::stringstream in(text);
    std::string field;
    while (std::getline(in, field, ','))
        values.push_back(std::strtod(field.c_str(), nullptr));
    return values;
}

// The time axis and one voltage column per channel.
struct Expected {
    std::vector<double> x;
    std::vector<std::vector<double>> y;
};

// DS1000Z Programming Guide, :WAVeform:DATA? and :WAVeform:PREamble?:
// V = (code - yorigin - yreference) * yincrement,
// t = (i - xreference) * xincrement + xorigin; pages of 100 000 points here.
Expected RigolReference(const Panel& scope, const std::vector<std::string>& channels) {
    Expected e;
    scope.Send(":STOP");
    for (const std::string& channel : channels) {
        scope.Send(":WAV:SOUR " + channel);
        scope.Send(":WAV:MODE RAW");
        scope.Send(":WAV:FORM BYTE");
        const std::vector<double> p = Fields(scope.Query(":WAV:PRE?"));
        const long points = std::lround(p.at(2));
        std::string codes;
        for (long first = 1; first <= points; first += 100000) {
            scope.Send(":WAV:STAR " + std::to_string(first));
            scope.Send(":WAV:STOP " + std::to_string(std::min(points, first + 99999)));
            codes += scope.Block(":WAV:DATA?");
        }
        std::vector<double> y;
        e.x.clear();
        for (long i = 0; i < static_cast<long>(codes.size()); ++i) {
            const int code = static_cast<unsigned char>(codes[i]);
            y.push_back((code - p[8] - p[9]) * p[7]);
            e.x.push_back((i - p[6]) * p[4] + p[5]);
        }
        e.y.push_back(y);
    }
    scope.Send(":RUN");
    return e;
}

// SDS1000X-E Programming Guide, WF? and its example: V = code * VDIV / 25 -
// OFST with the code a signed byte (two's complement: minus 256, where the
// guide's text says 255); t = TRDL - TDIV * 14 / 2 + i / SARA.
Expected SiglentReference(const Panel& scope, const std::vector<std::string>& channels) {
    Expected e;
    scope.Send("CHDR OFF");
    for (const std::string& channel : channels) {
        const double vdiv = scope.Number(channel + ":VDIV?");
        const double offset = scope.Number(channel + ":OFST?");
        const double timebase = scope.Number("TDIV?");
        const double rate = scope.Number("SARA?");
        const double delay = scope.Number("TRDL?");
        const std::string codes = scope.Block(channel + ":WF? DAT2");
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const int code = static_cast<unsigned char>(codes[i]);
            y.push_back((code > 127 ? code - 256 : code) * vdiv / 25 - offset);
            e.x.push_back(delay - timebase * 14 / 2 + static_cast<double>(i) / rate);
        }
        e.y.push_back(y);
    }
    return e;
}

// TDS3000 Programmer Manual, CURVe? and WFMPre?: V = (code - YOFF) * YMULT +
// YZERO with the code a signed byte (RIBinary); t = XZERO + i * XINCR.
Expected TektronixReference(const Panel& scope, const std::vector<std::string>& channels) {
    Expected e;
    scope.Send("HEADer 1");
    for (const std::string& channel : channels) {
        scope.Send("DATa:SOUrce " + channel);
        scope.Send("DATa:ENCdg RIBinary");
        scope.Send("DATa:WIDth 1");
        scope.Send("DATa:STARt 1");
        scope.Send("DATa:STOP 1000000");
        std::map<std::string, double> field;
        std::stringstream preamble(scope.Query("WFMPre?"));
        std::string element;
        while (std::getline(preamble, element, ';')) {
            const std::size_t space = element.find(' ');
            std::string name = element.substr(0, space);
            name.erase(0, name.rfind(':') + 1); // ":WFMPRE:BYT_NR" → "BYT_NR"
            field[name] = std::strtod(element.c_str() + space + 1, nullptr);
        }
        const std::string codes = scope.Block("CURVe?");
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const int code = static_cast<signed char>(codes[i]);
            y.push_back((code - field.at("YOFF")) * field.at("YMULT") + field.at("YZERO"));
            e.x.push_back(field.at("XZERO") + static_cast<double>(i) * field.at("XINCR"));
        }
        e.y.push_back(y);
    }
    scope.Send("HEADer 0");
    return e;
}

// Infiniium Programmer's Guide, :WAVeform:DATA? and :WAVeform:PREamble?:
// V = (code - yreference) * yincrement + yorigin with WORD codes signed
// 16-bit, least significant byte first; t = (i - xreference) * xincrement +
// xorigin.
Expected InfiniiumReference(const Panel& scope, const std::vector<std::string>& channels) {
    Expected e;
    for (const std::string& channel : channels) {
        scope.Send(":WAV:SOUR " + channel);
        scope.Send(":WAV:FORM WORD");
        scope.Send(":WAV:BYT LSBF");
        const std::vector<double> p = Fields(scope.Query(":WAV:PRE?"));
        const std::string codes = scope.Block(":WAV:DATA?");
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i + 1 < codes.size(); i += 2) {
            const auto low = static_cast<unsigned char>(codes[i]);
            const auto high = static_cast<unsigned char>(codes[i + 1]);
            const int code = static_cast<std::int16_t>(high << 8 | low);
            y.push_back((code - p.at(9)) * p.at(7) + p.at(8));
            e.x.push_back((static_cast<double>(i / 2) - p.at(6)) * p.at(4) + p.at(5));
        }
        e.y.push_back(y);
    }
    return e;
}

struct Family {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    std::function<Expected(const Panel&, const std::vector<std::string>&)> reference;
};

const Family kFamilies[] = {
    {"RigolPaged",
     {"--instrument", "rigol", "--waveform-points", "300000"},
     {"CHAN1", "CHAN3"},
     RigolReference},
    // DS2000 guide's format codes, and NULs before the block's line feed.
    {"RigolHabits",
     {"--instrument", "rigol", "--rigol-swapped-format-codes", "--rigol-block-tail", "3",
      "--waveform-points", "20000"},
     {"CHAN2"},
     RigolReference},
    {"Siglent", {"--instrument", "siglent"}, {"C1", "C2", "C4"}, SiglentReference},
    // Replies with headers before the transfer: CHDR is switched off for it.
    {"SiglentHeaders",
     {"--instrument", "siglent", "--siglent-reply-headers", "--waveform-points", "7000"},
     {"C3"},
     SiglentReference},
    {"Tektronix", {"--instrument", "tektronix"}, {"CH1", "CH2", "CH4"}, TektronixReference},
    // Junk after the curve, no WFId (the fields move), headers on from the start.
    {"TektronixHabits",
     {"--instrument", "tektronix", "--tektronix-curve-junk", "--tektronix-no-wfid",
      "--tektronix-headers", "--waveform-points", "2500"},
     {"CH3"},
     TektronixReference},
    {"Infiniium",
     {"--instrument", "infiniium"},
     {"CHAN1", "CHAN2", "CHAN3", "CHAN4"},
     InfiniiumReference},
};

bool Near(double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::abs(b) + 1e-15;
}

// Compares the CSV with the reference, line by line; stops at the first
// difference so a fault gives one message, not a million.
void ExpectCsvEquals(const std::string& csv, const Expected& e,
                     const std::vector<std::string>& channels) {
    std::stringstream in(csv);
    std::string line;
    std::getline(in, line);
    std::string header = "time/s";
    for (const std::string& c : channels)
        header += ";" + c + "(voltage/V)";
    ASSERT_EQ(line, header + "\r");
    ASSERT_FALSE(e.x.empty());
    std::size_t row = 0;
    while (std::getline(in, line)) {
        ASSERT_LT(row, e.x.size()) << "more rows than points";
        const std::vector<double> values = [&] {
            std::vector<double> v;
            std::stringstream fields(line);
            std::string f;
            while (std::getline(fields, f, ';'))
                v.push_back(std::strtod(f.c_str(), nullptr));
            return v;
        }();
        ASSERT_EQ(values.size(), channels.size() + 1) << "row " << row;
        ASSERT_TRUE(Near(values[0], e.x[row])) << "row " << row << ": " << line;
        for (std::size_t c = 0; c < channels.size(); ++c)
            ASSERT_TRUE(Near(values[c + 1], e.y[c][row]))
                << channels[c] << " row " << row << ": " << line << " expected " << e.y[c][row];
        ++row;
    }
    EXPECT_EQ(row, e.x.size());
}

class ScopeWaveforms : public ::testing::TestWithParam<std::tuple<Family, bool>> {};

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names)
        text += (text.empty() ? "" : ",") + n;
    return text;
}

TEST_P(ScopeWaveforms, CsvHoldsTheManualsScalingOfTheServedCodes) {
    const auto& [family, usb] = GetParam();
    SimProcess sim(family.simArgs);
    ASSERT_TRUE(sim.Started());
    TempDir shots;
    TempDir logs;
    std::vector<std::string> args = {"capture", usb ? sim.UsbResource() : sim.SocketResource()};
    if (usb)
        args.insert(args.end(), {"--usbip", sim.UsbipServer()});
    args.insert(args.end(), {"--dir", shots.Path(), "--name", "shot", "--waveforms",
                             Joined(family.channels), "--timeout", "20000"});
    const CliRun run = RunCli(logs, args);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Waveform data saving done.\n"), std::string::npos) << run.out;

    const Panel scope(sim.SocketResource());
    const Expected expected = family.reference(scope, family.channels);
    ExpectCsvEquals(ReadFileText(shots.File("shot.csv")), expected, family.channels);
}

INSTANTIATE_TEST_SUITE_P(Families, ScopeWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kFamilies), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Usb" : "Socket");
                         });

// Runs a shell command and returns its standard output; `status` gets its exit status.
std::string Output(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    status = pclose(pipe);
    return out;
}

// A Rigol capture into a dirfile, read back by GetData: checkdirfile finds
// it conforming, and its Python binding reads every field, whose values
// (doubles in the file, printed so they read back the same) must equal what
// the test computes with the guide's formula.
TEST(ScopeWaveformDirfile, GetDataReadsTheFieldsBack) {
    SimProcess sim({"--instrument", "rigol", "--waveform-points", "20000"});
    ASSERT_TRUE(sim.Started());
    TempDir shots;
    TempDir logs;
    const std::vector<std::string> channels = {"CHAN1", "CHAN4"};
    const CliRun run =
        RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(), "--name", "shot",
                      "--waveforms", "CHAN1,CHAN4", "--data-format", "dirfile"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string dirfile = shots.File("shot");

    int status = -1;
    const std::string check =
        Output(std::string(QUARVEL_CHECKDIRFILE) + " '" + dirfile + "' 2>&1", status);
    EXPECT_EQ(status, 0) << check;

    const std::string script = "import sys, pygetdata as g\n"
                               "d = g.dirfile(sys.argv[1], g.RDONLY)\n"
                               "for f in sys.argv[2:]:\n"
                               "    n = d.nframes\n"
                               "    v = d.getdata(f, g.FLOAT64, first_frame=0, num_frames=n)\n"
                               "    print(f, n, ' '.join(repr(float(x)) for x in v))\n";
    const std::string read = Output(std::string(QUARVEL_SYSTEM_PYTHON3) + " -c \"" + script +
                                        "\" '" + dirfile + "' xaxis.dat CHAN1.dat CHAN4.dat 2>&1",
                                    status);
    ASSERT_EQ(status, 0) << read;

    const Panel scope(sim.SocketResource());
    const Expected expected = RigolReference(scope, channels);
    std::stringstream lines(read);
    const std::vector<const std::vector<double>*> columns = {&expected.x, &expected.y[0],
                                                             &expected.y[1]};
    for (const std::vector<double>* column : columns) {
        std::string name;
        std::size_t frames = 0;
        lines >> name >> frames;
        ASSERT_EQ(frames, column->size()) << name;
        for (std::size_t i = 0; i < frames; ++i) {
            double value = 0.0;
            lines >> value;
            ASSERT_EQ(value, (*column)[i]) << name << " frame " << i;
        }
    }
}

int IndexOf(const std::vector<std::string>& received, const std::string& command, int from = 0) {
    for (int i = from; i < static_cast<int>(received.size()); ++i)
        if (received[i] == command)
            return i;
    return -1;
}

// What the instrument cannot give is named, channel by channel; the other
// channels are still written, and a capture that wrote none fails.
TEST(ScopeWaveformFaults, MissingChannelsAreNamedAndNothingHalfIsWritten) {
    TempDir logs;
    struct Case {
        const char* what;
        std::vector<std::string> simArgs;
        const char* atInstrument; // sent before the capture ("" : nothing)
        const char* channels;
        int exitCode;
        const char* message;
        const char* csvHeader; // "" : no data file
    };
    const Case cases[] = {
        {"a family without data channels",
         {"--instrument", "fsv"},
         "",
         "CHAN1",
         1,
         "Waveform data saving done. CHAN1 is not offered by this instrument.\n",
         ""},
        {"a channel switched off, one unknown",
         {"--instrument", "rigol", "--waveform-points", "5000"},
         ":CHAN3:DISP 0",
         "CHAN1,CHAN3,CHAN7",
         0,
         "Waveform data saving done. CHAN7 is not offered by this instrument. CHAN3 is switched "
         "off.\n",
         "time/s;CHAN1(voltage/V)\r\n"},
        {"pages the scope cuts short",
         {"--instrument", "rigol", "--waveform-page", "100000"},
         "",
         "CHAN2",
         1,
         "Waveform data saving done. CHAN2: points 1 to 250000: the page brought 0 of its "
         "250000 points.\n",
         ""},
        {"a preamble that does not parse",
         {"--instrument", "rigol", "--waveform-points", "5000"},
         ":SIMulate:PREamble:FAIL 2",
         "CHAN1,CHAN2",
         0,
         "Waveform data saving done. CHAN2: the preamble '0,2,1200,1,PREAMBLE?' has no number in "
         "field 5.\n",
         "time/s;CHAN1(voltage/V)\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.Started());
        if (*c.atInstrument != '\0')
            Panel(sim.SocketResource()).Send(c.atInstrument);
        TempDir shots;
        sim.ClearTranscript();
        const CliRun run = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                         "--name", "shot", "--waveforms", c.channels});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
        EXPECT_TRUE(PathExists(shots.File("shot.png")));
        if (*c.csvHeader == '\0') {
            EXPECT_FALSE(PathExists(shots.File("shot.csv")));
        } else {
            EXPECT_EQ(ReadFileText(shots.File("shot.csv")).rfind(c.csvHeader, 0), 0u);
        }
    }
}

// A cancel stops a paged read after the current page: no record of the
// channel, no further page asked for, the scope run again.
TEST(ScopeWaveformCancel, PagedReadStopsAfterTheCurrentPage) {
    SimProcess sim({"--instrument", "rigol", "--waveform-points", "1000000"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    ASSERT_TRUE(connection.Open(sim.SocketResource()));
    ASSERT_TRUE(connection.QueryIdn());
    ASSERT_TRUE(connection.CreateDriver());
    ChannelList offered;
    connection.GetDriver()->GetChannelList(offered);
    sim.ClearTranscript();
    int asked = 0;
    WaveformRecordList records;
    const std::string problems = CaptureWaveforms(*connection.GetDriver(), {"CHAN1", "CHAN2"},
                                                  records, {}, [&] { return ++asked > 1; });
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(problems, "CHAN1: cancelled after point 250000.") << problems;
    ViInt32 done = 0; // everything sent before has been taken in
    ASSERT_EQ(viQueryf(connection.GetSession(), "*OPC?\n", "%d", &done), VI_SUCCESS);
    const std::vector<std::string> received = sim.Transcript();
    EXPECT_EQ(std::count(received.begin(), received.end(), ":WAV:DATA?"), 1);
    EXPECT_GT(IndexOf(received, ":RUN"), IndexOf(received, ":WAV:DATA?"));
}

// A running scope is stopped for its data (one acquisition for every
// channel; Rigol's RAW memory only while stopped) and runs again afterwards;
// a setting changed for the transfer is put back.
TEST(ScopeWaveformRunState, DataIsReadStoppedAndTheScopeRunsAgain) {
    struct Case {
        std::vector<std::string> simArgs;
        const char* channel;
        const char* stop;
        const char* data;
        const char* run;
        const char* restored; // sent after the data ("" : nothing)
    };
    const Case cases[] = {
        {{"--instrument", "rigol", "--waveform-points", "5000"},
         "CHAN1",
         ":STOP",
         ":WAV:DATA?",
         ":RUN",
         ""},
        {{"--instrument", "siglent", "--siglent-reply-headers", "--waveform-points", "5000"},
         "C2",
         "TRMD STOP",
         "C2:WF? DAT2",
         "TRMD AUTO",
         "CHDR SHORT"},
        {{"--instrument", "tektronix"},
         "CH1",
         "ACQuire:STATE 0",
         "CURVe?",
         "ACQuire:STATE 1",
         "HEADer 0"},
        {{"--instrument", "infiniium", "--waveform-points", "5000"},
         "CHAN2",
         ":STOP",
         ":WAV:DATA?",
         ":RUN",
         ""},
    };
    TempDir logs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.simArgs[1]);
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.Started());
        TempDir shots;
        sim.ClearTranscript();
        const CliRun run = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                         "--waveforms", c.channel});
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        const std::vector<std::string> received = sim.Transcript();
        const int stop = IndexOf(received, c.stop);
        const int data = IndexOf(received, c.data);
        ASSERT_GE(stop, 0);
        EXPECT_LT(stop, data);
        EXPECT_GT(IndexOf(received, c.run, data), data);
        if (*c.restored != '\0') {
            EXPECT_GT(IndexOf(received, c.restored, data), data);
        }
    }
}

} // namespace
} // namespace quarvel::test
