// Waveform data of the Rigol MSO5000/7000/8000 and DHO800-4000 personas
// through quarvel-cli capture --waveforms, over a LAN socket and over USB
// (USB/IP): the CSV values must equal what this test computes itself from
// the codes the simulator serves, with the guides' formula
//   V = (code - yorigin - yreference) * yincrement
//   t = (i - xreference) * xincrement + xorigin
// read through a VISA session of the test's own (never the methods'
// conversion). The habits of both personas are switched on and off here.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include "instr/instr_connection.h"
#include "instr/instr_ll.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
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
        char line[512];
        ViUInt32 n = 0;
        viRead(m_vi, reinterpret_cast<ViByte*>(line), sizeof line, &n);
        std::string reply(line, n);
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
            reply.pop_back();
        return reply;
    }
    // The data bytes of a "#9" block reply, read to the length it announces.
    std::string Block(const std::string& query) const {
        Send(query);
        char header[11];
        if (Read(header, sizeof header) != sizeof header || header[0] != '#' || header[1] != '9')
            return {};
        std::string data(std::strtoul(std::string(header + 2, 9).c_str(), nullptr, 10), '\0');
        data.resize(Read(data.data(), data.size()));
        char tail = 0;
        Read(&tail, 1); // its line feed
        return data;
    }

private:
    std::size_t Read(char* into, std::size_t count) const {
        std::size_t total = 0;
        while (total < count) {
            ViUInt32 n = 0;
            const ViStatus status = viRead(m_vi, reinterpret_cast<ViByte*>(into + total),
                                           static_cast<ViUInt32>(count - total), &n);
            total += n;
            if (status < VI_SUCCESS || n == 0)
                break;
        }
        return total;
    }

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

struct Expected {
    std::vector<double> x;
    std::vector<std::vector<double>> y; // one column per channel
};

// The whole memory of each channel in one block (MSO5000) or in pages of
// 100 000 WORD points (DHO: little-endian 16-bit codes, the record length
// from :ACQ:MDEP?, as the preamble counts only a page).
Expected Reference(const Panel& scope, const std::vector<std::string>& channels, bool dho) {
    Expected e;
    scope.Send(":STOP");
    scope.Query("*OPC?");
    const char* format = dho ? "WORD" : "BYTE";
    for (const std::string& channel : channels) {
        scope.Send(":WAV:SOUR " + channel);
        scope.Send(":WAV:MODE RAW");
        scope.Send(std::string(":WAV:FORM ") + format);
        const std::vector<double> p = Fields(scope.Query(":WAV:PRE?"));
        const long points =
            std::lround(dho ? std::strtod(scope.Query(":ACQ:MDEP?").c_str(), nullptr) : p.at(2));
        const long page = dho ? 100000 : points;
        std::vector<long> codes;
        for (long first = 1; first <= points; first += page) {
            scope.Send(":WAV:STAR " + std::to_string(first));
            scope.Send(":WAV:STOP " + std::to_string(std::min(points, first + page - 1)));
            scope.Send(":WAV:MODE RAW");
            scope.Send(std::string(":WAV:FORM ") + format);
            const std::string data = scope.Block(":WAV:DATA?");
            for (std::size_t i = 0; i < data.size(); i += dho ? 2 : 1) {
                long code = static_cast<unsigned char>(data[i]);
                if (dho)
                    code |= static_cast<long>(static_cast<unsigned char>(data[i + 1])) << 8;
                codes.push_back(code);
            }
        }
        std::vector<double> y;
        e.x.clear();
        for (std::size_t i = 0; i < codes.size(); ++i) {
            y.push_back((codes[i] - p.at(8) - p.at(9)) * p.at(7));
            e.x.push_back((static_cast<double>(i) - p.at(6)) * p.at(4) + p.at(5));
        }
        e.y.push_back(y);
    }
    scope.Send(":RUN");
    return e;
}

bool Near(double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::abs(b) + 1e-15;
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

struct Persona {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    bool dho;
};

const Persona kPersonas[] = {
    // The real firmware's habits (the defaults): settings reset after each
    // read, an empty block right after a stop until *OPC?.
    {"Mso5000",
     {"--instrument", "rigol-mso5000", "--waveform-points", "30000"},
     {"CHAN1", "CHAN3"},
     false},
    {"Mso5000HabitsOff",
     {"--instrument", "rigol-mso5000", "--habit", "wav-settings-reset=off", "--habit",
      "empty-data-after-trigger=off", "--waveform-points", "4000"},
     {"CHAN2"},
     false},
    // Two pages of 250 000 points; the preamble counts the page window.
    {"Dho", {"--instrument", "rigol-dho", "--waveform-points", "260000"}, {"CHAN2", "CHAN4"}, true},
    // A DHO4000 whose preamble counts the memory and puts x reference mid-record.
    {"DhoHabits",
     {"--instrument", "rigol-dho", "--idn", "RIGOL TECHNOLOGIES,DHO4204,HDO4A000000001,00.01.03",
      "--habit", "preamble-points=depth", "--habit", "xref=middle", "--waveform-points", "7000"},
     {"CHAN1"},
     true},
};

class RigolMsoWaveforms : public ::testing::TestWithParam<std::tuple<Persona, bool>> {};

TEST_P(RigolMsoWaveforms, CsvHoldsTheGuidesScalingOfTheServedCodes) {
    const auto& [persona, usb] = GetParam();
    SimProcess sim(persona.simArgs);
    ASSERT_TRUE(sim.Started());
    TempDir shots;
    TempDir logs;
    std::string channels;
    for (const std::string& c : persona.channels)
        channels += (channels.empty() ? "" : ",") + c;
    std::vector<std::string> args = {"capture", usb ? sim.UsbResource() : sim.SocketResource()};
    if (usb)
        args.insert(args.end(), {"--usbip", sim.UsbipServer()});
    args.insert(args.end(), {"--dir", shots.Path(), "--name", "shot", "--waveforms", channels,
                             "--timeout", "20000"});
    const CliRun run = RunCli(logs, args);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Waveform data saving done.\n"), std::string::npos) << run.out;

    const Panel scope(sim.SocketResource());
    const Expected expected = Reference(scope, persona.channels, persona.dho);
    ExpectCsvEquals(ReadFileText(shots.File("shot.csv")), expected, persona.channels);
}

INSTANTIATE_TEST_SUITE_P(Personas, RigolMsoWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kPersonas), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Usb" : "Socket");
                         });

// What the instrument cannot give is named per channel; the other channels
// are still written, and a capture that wrote none fails.
TEST(RigolMsoWaveformFaults, ChannelsThatCannotBeReadAreNamed) {
    TempDir logs;
    struct Case {
        const char* what;
        std::vector<std::string> simArgs;
        const char* channels;
        int exitCode;
        const char* message;
        const char* csvHeader; // "" : no data file
    };
    const Case cases[] = {
        {"a DHO channel with x increment 0",
         {"--instrument", "rigol-dho", "--habit", "zero-xinc=2", "--waveform-points", "3000"},
         "CHAN1,CHAN2",
         0,
         "Waveform data saving done. CHAN2: the preamble gives a time increment of "
         "0.000000e+00, no usable time axis.\n",
         "time/s;CHAN1(voltage/V)\r\n"},
        {"DHO pages the scope cuts short",
         {"--instrument", "rigol-dho", "--waveform-page", "100000", "--waveform-points", "300000"},
         "CHAN3",
         1,
         "Waveform data saving done. CHAN3: points 1 to 250000: the page brought 0 of its "
         "250000 points.\n",
         ""},
        {"MSO5000 memory deeper than a capture holds",
         {"--instrument", "rigol-mso5000", "--waveform-points", "100000001"},
         "CHAN1",
         1,
         "Waveform data saving done. CHAN1: the preamble announces 100000001.000000 points, "
         "outside 1 to 100000000.\n",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.Started());
        TempDir shots;
        const CliRun run = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                         "--name", "shot", "--waveforms", c.channels});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
        if (*c.csvHeader == '\0')
            EXPECT_FALSE(PathExists(shots.File("shot.csv")));
        else
            EXPECT_EQ(ReadFileText(shots.File("shot.csv")).rfind(c.csvHeader, 0), 0u);
    }
}

// Straight after a stop the MSO5000 memory reads empty until *OPC? (the
// habit's default): the method's own wait makes the first read whole, with
// no stop of the capture's in between.
TEST(RigolMsoWaveformHabits, ReadRightAfterAStopWaitsForTheMemory) {
    SimProcess sim({"--instrument", "rigol-mso5000", "--waveform-points", "5000"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    ASSERT_TRUE(connection.Open(sim.SocketResource()));
    ASSERT_TRUE(connection.QueryIdn());
    ASSERT_TRUE(connection.CreateDriver());
    ASSERT_EQ(viPrintf(connection.GetSession(), ":STOP\n"), VI_SUCCESS);
    WaveformRecord record;
    ASSERT_TRUE(connection.GetDriver()->GetWaveformData("CHAN2", record))
        << connection.GetDriver()->WaveformFailure();
    EXPECT_EQ(record.y.size(), 5000u);
}

} // namespace
} // namespace quarvel::test
