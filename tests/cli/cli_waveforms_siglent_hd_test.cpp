// quarvel-cli capture --waveforms against the Siglent SDS HD / X Plus
// persona, over a LAN socket and over USB (USB/IP): the CSV values must
// equal what this test computes itself from the served bytes with the
// programming guide's example (descriptor offsets, 16-bit words shifted to
// the ADC's bits, codes per division over 16 for a 12-bit ADC,
// t = -(tdiv * 10 / 2) + i * interval - delay), read through a VISA
// session of its own with its own paging.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include "capture/waveform_capture.h"
#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace quarvel::test {
namespace {

class Scope {
public:
    explicit Scope(const std::string& resource) {
        viOpenDefaultRM(&m_rm);
        viOpen(m_rm, resource.c_str(), VI_NULL, 5000, &m_vi);
    }
    ~Scope() { viClose(m_rm); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    void Send(const std::string& command) const { viPrintf(m_vi, "%s\n", command.c_str()); }
    double Number(const std::string& query) const {
        Send(query);
        char line[256] = {};
        ViUInt32 n = 0;
        viRead(m_vi, reinterpret_cast<ViByte*>(line), sizeof line - 1, &n);
        return std::strtod(line, nullptr);
    }
    // The data of the "#9" block that answers `query`, read with its two
    // line feeds. `points`: a WORD block whose header names this many
    // holds twice as many bytes; `announced` gets the header's count.
    std::string Block(const std::string& query, std::size_t points, std::size_t& announced) const {
        Send(query);
        std::string header = Read(11);
        if (header.size() != 11 || header.compare(0, 2, "#9") != 0)
            return {};
        announced = std::stoul(header.substr(2));
        const std::size_t bytes = announced == points ? 2 * points : announced;
        std::string data = Read(bytes);
        return Read(2) == "\n\n" ? data : std::string();
    }

private:
    std::string Read(std::size_t count) const {
        std::string out(count, '\0');
        std::size_t total = 0;
        while (total < count) {
            ViUInt32 n = 0;
            const ViStatus status =
                viRead(m_vi, reinterpret_cast<ViByte*>(out.data() + total),
                       static_cast<ViUInt32>(std::min<std::size_t>(count - total, 1 << 20)), &n);
            if (status < VI_SUCCESS || n == 0)
                break;
            total += n;
        }
        out.resize(total);
        return out;
    }

    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

template <typename T> T At(const std::string& d, std::size_t offset) {
    T value{};
    std::memcpy(&value, d.data() + offset, sizeof value);
    return value;
}

struct Expected {
    std::vector<double> x;
    std::vector<std::vector<double>> y;
};

// The guide's example, step by step, for each channel; `wordHeaderCounts`
// tells what the header of a WORD page must count (points or bytes).
Expected Reference(const Scope& scope, const std::vector<std::string>& channels, bool word,
                   bool headerCountsPoints) {
    Expected e;
    for (const std::string& channel : channels) {
        scope.Send(":WAV:SOUR " + channel);
        scope.Send(word ? ":WAV:WIDT WORD" : ":WAV:WIDT BYTE");
        scope.Send(":WAV:STAR 0");
        scope.Send(":WAV:POIN 0");
        std::size_t announced = 0;
        const std::string d = scope.Block(":WAV:PRE?", 0, announced);
        EXPECT_EQ(d.size(), 346u);
        if (d.size() < 346)
            return e;
        const auto points = static_cast<std::size_t>(At<std::int32_t>(d, 0x74));
        const double probe = At<float>(d, 0x148);
        const double vdiv = At<float>(d, 0x9c) * probe;
        const double offset = At<float>(d, 0xa0) * probe;
        double code = At<float>(d, 0xa4);
        const int adcBits = At<std::int16_t>(d, 0xac);
        const double interval = At<float>(d, 0xb0);
        const double delay = At<double>(d, 0xb4);
        const double tdiv = scope.Number(":TIM:SCAL?");
        const auto page = static_cast<std::size_t>(scope.Number(":WAV:MAXP?"));
        if (adcBits > 8)
            code /= 16;
        std::string bytes;
        for (std::size_t first = 0; first < points; first += page) {
            const std::size_t count = std::min(page, points - first);
            scope.Send(":WAV:STAR " + std::to_string(first));
            scope.Send(":WAV:POIN " + std::to_string(count));
            bytes += scope.Block(":WAV:DATA?", word ? count : 0, announced);
            EXPECT_EQ(announced, word && !headerCountsPoints ? 2 * count : count);
        }
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < (word ? bytes.size() / 2 : bytes.size()); ++i) {
            long data = 0;
            if (word) {
                const long word16 = static_cast<unsigned char>(bytes[2 * i + 1]) * 256 +
                                    static_cast<unsigned char>(bytes[2 * i]);
                data = word16 >> (16 - adcBits);
                if (data > (1L << (adcBits - 1)) - 1)
                    data -= 1L << adcBits;
            } else {
                data = static_cast<unsigned char>(bytes[i]);
                if (data > 127)
                    data -= 256;
            }
            y.push_back(static_cast<double>(data) / code * vdiv - offset);
            e.x.push_back(-(tdiv * 10 / 2) + static_cast<double>(i) * interval - delay);
        }
        e.y.push_back(y);
    }
    return e;
}

bool Near(double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::abs(b) + 1e-12;
}

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
        std::stringstream fields(line);
        std::string f;
        std::vector<double> v;
        while (std::getline(fields, f, ';'))
            v.push_back(std::strtod(f.c_str(), nullptr));
        ASSERT_EQ(v.size(), channels.size() + 1) << "row " << row;
        ASSERT_TRUE(Near(v[0], e.x[row])) << "row " << row << ": " << line;
        for (std::size_t c = 0; c < channels.size(); ++c)
            ASSERT_TRUE(Near(v[c + 1], e.y[c][row]))
                << channels[c] << " row " << row << ": " << line << " expected " << e.y[c][row];
        ++row;
    }
    EXPECT_EQ(row, e.x.size());
}

struct Case {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    bool word;
    bool headerCountsPoints;
};

const Case kCases[] = {
    // SDS824X HD: 12-bit words; three pages of :WAV:MAXP? points, the last
    // one shorter; channel 2 behind a 10:1 probe.
    {"Hd",
     {"--instrument", "siglent-hd", "--waveform-points", "30000", "--waveform-page", "12000"},
     {"C1", "C2"},
     true,
     false},
    // SDS2000X HD firmware that counts points in the WORD block header.
    {"HdHeaderCountsPoints",
     {"--instrument", "siglent-hd", "--idn", "Siglent Technologies,SDS2104X HD,SDS2HA1,1.2.2.9",
      "--habit", "word-count=points", "--waveform-points", "20000", "--waveform-page", "8000"},
     {"C3", "C4"},
     true,
     true},
    // SDS2000X Plus: 8-bit, read as signed bytes, one page.
    {"XPlus",
     {"--instrument", "siglent-hd", "--idn", "Siglent Technologies,SDS2104X Plus,SDS2PA1,1.3.9R12",
      "--waveform-points", "25000"},
     {"C1", "C4"},
     false,
     false},
};

class SiglentHdWaveforms : public ::testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(SiglentHdWaveforms, CsvHoldsTheGuidesScalingOfTheServedCodes) {
    const auto& [c, usb] = GetParam();
    SimProcess sim(c.simArgs);
    ASSERT_TRUE(sim.Started());
    TempDir shots;
    TempDir logs;
    std::vector<std::string> args = {"capture", usb ? sim.UsbResource() : sim.SocketResource()};
    if (usb)
        args.insert(args.end(), {"--usbip", sim.UsbipServer()});
    std::string channels;
    for (const std::string& name : c.channels)
        channels += (channels.empty() ? "" : ",") + name;
    args.insert(args.end(), {"--dir", shots.Path(), "--name", "shot", "--waveforms", channels,
                             "--timeout", "20000"});
    const CliRun run = RunCli(logs, args);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Waveform data saving done.\n"), std::string::npos) << run.out;

    const Scope scope(sim.SocketResource());
    const Expected expected = Reference(scope, c.channels, c.word, c.headerCountsPoints);
    ExpectCsvEquals(ReadFileText(shots.File("shot.csv")), expected, c.channels);
}

INSTANTIATE_TEST_SUITE_P(Personas, SiglentHdWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Usb" : "Socket");
                         });

int IndexOf(const std::vector<std::string>& received, const std::string& command, int from = 0) {
    for (int i = from; i < static_cast<int>(received.size()); ++i)
        if (received[i] == command)
            return i;
    return -1;
}

// What the scope cannot give is named by channel, the other channels are
// still written, a capture that wrote none fails; the running scope is
// stopped for the data and runs again afterwards, every case.
TEST(SiglentHdWaveformFaults, NamedByChannelAndReadStopped) {
    struct Fault {
        const char* what;
        const char* atInstrument;
        const char* channels;
        int exitCode;
        const char* message;
        const char* csvHeader; // "": no data file
    };
    const Fault faults[] = {
        {"a channel switched off", ":CHAN3:SWIT OFF", "C1,C3", 0,
         "Waveform data saving done. C3 is switched off.\n", "time/s;C1(voltage/V)\r\n"},
        {"a descriptor without its name", ":SIM:PRE:FAIL 2", "C1,C2", 0,
         "Waveform data saving done. C2: the preamble block holds no waveform descriptor (no "
         "WAVEDESC name).\n",
         "time/s;C1(voltage/V)\r\n"},
        {"pages a point short", ":SIM:DATA:SHOR 4", "C4", 1,
         "Waveform data saving done. C4: points 1 to 4000: the page brought 3999 of its 4000 "
         "points.\n",
         ""},
    };
    TempDir logs;
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        SimProcess sim({"--instrument", "siglent-hd", "--waveform-points", "10000",
                        "--waveform-page", "4000"});
        ASSERT_TRUE(sim.Started());
        Scope(sim.SocketResource()).Send(f.atInstrument);
        TempDir shots;
        sim.ClearTranscript();
        const CliRun run = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                         "--name", "shot", "--waveforms", f.channels});
        EXPECT_EQ(run.exitCode, f.exitCode) << run.out << run.err;
        EXPECT_NE(run.out.find(f.message), std::string::npos) << run.out;
        if (*f.csvHeader == '\0') {
            EXPECT_FALSE(PathExists(shots.File("shot.csv")));
        } else {
            EXPECT_EQ(ReadFileText(shots.File("shot.csv")).rfind(f.csvHeader, 0), 0u);
        }
        const std::vector<std::string> received = sim.Transcript();
        const int stop = IndexOf(received, ":TRIG:STOP");
        const int preamble = IndexOf(received, ":WAV:PRE?");
        ASSERT_GE(stop, 0);
        EXPECT_LT(stop, preamble);
        EXPECT_GT(IndexOf(received, ":TRIG:RUN", preamble), preamble);
    }
}

// A cancel stops the paged read after the current page: no record, no
// further page asked for, the scope run again.
TEST(SiglentHdWaveformCancel, StopsAfterTheCurrentPage) {
    SimProcess sim(
        {"--instrument", "siglent-hd", "--waveform-points", "30000", "--waveform-page", "10000"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    ASSERT_TRUE(connection.Open(sim.SocketResource()));
    ASSERT_TRUE(connection.QueryIdn());
    ASSERT_TRUE(connection.CreateDriver());
    sim.ClearTranscript();
    int asked = 0;
    WaveformRecordList records;
    const std::string problems = CaptureWaveforms(*connection.GetDriver(), {"C1", "C2"}, records,
                                                  {}, [&] { return ++asked > 1; });
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(problems, "C1: cancelled after point 10000.");
    ViInt32 done = 0; // everything sent before has been taken in
    ASSERT_EQ(viQueryf(connection.GetSession(), "*OPC?\n", "%d", &done), VI_SUCCESS);
    const std::vector<std::string> received = sim.Transcript();
    EXPECT_EQ(std::count(received.begin(), received.end(), ":WAV:DATA?"), 1);
    EXPECT_GT(IndexOf(received, ":TRIG:RUN"), IndexOf(received, ":WAV:DATA?"));
}

} // namespace
} // namespace quarvel::test
