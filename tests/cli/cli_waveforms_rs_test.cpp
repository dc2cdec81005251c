// quarvel-cli capture --waveforms against the Rohde & Schwarz persona
// (RTB2000, RTA4000, MXO 4 by model), over a LAN socket and over USB
// (USB/IP): the CSV must hold the values the simulator serves, which this
// test reads itself through a VISA session of its own and decodes by the
// user manuals (REAL,32 in the byte order the instrument reports; time of
// sample n = XStart + n * (XStop - XStart) / (length - 1)), never through
// the driver's conversion. What the instrument cannot give is named per
// channel, the other channels still written.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include "visa/visa.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <sstream>

namespace quarvel::test {
namespace {

class Scope {
public:
    explicit Scope(const std::string& resource) {
        viOpenDefaultRM(&m_rm);
        viOpen(m_rm, resource.c_str(), VI_NULL, 5000, &m_vi);
        viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    }
    ~Scope() { viClose(m_rm); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    void Send(const std::string& command) const { viPrintf(m_vi, "%s\n", command.c_str()); }
    std::string Query(const std::string& command) const {
        Send(command);
        char line[512] = {};
        ViUInt32 n = 0;
        viRead(m_vi, reinterpret_cast<ViByte*>(line), sizeof line - 1, &n);
        std::string reply(line, n);
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
            reply.pop_back();
        return reply;
    }
    // The data of the definite block the query answers, its line feed read.
    std::string Block(const std::string& query) const {
        Send(query);
        char head[12] = {};
        ViUInt32 n = 0;
        if (viRead(m_vi, reinterpret_cast<ViByte*>(head), 2, &n) < VI_SUCCESS || head[0] != '#')
            return {};
        const int digits = head[1] - '0';
        viRead(m_vi, reinterpret_cast<ViByte*>(head), static_cast<ViUInt32>(digits), &n);
        std::string data(std::stoul(std::string(head, n)), '\0');
        std::size_t got = 0;
        while (got < data.size()) {
            if (viRead(m_vi, reinterpret_cast<ViByte*>(data.data() + got),
                       static_cast<ViUInt32>(data.size() - got), &n) < VI_SUCCESS ||
                n == 0)
                return {};
            got += n;
        }
        char lineFeed = 0;
        viRead(m_vi, reinterpret_cast<ViByte*>(&lineFeed), 1, &n);
        return data;
    }

private:
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

struct Expected {
    std::vector<double> x;
    std::vector<std::vector<double>> y;
};

// Stops the scope (MAX gives the memory only when stopped), reads each
// channel as REAL,32 in the byte order the scope reports and runs it again.
Expected Reference(const Scope& scope, const std::vector<std::string>& channels, bool mxo) {
    Expected e;
    scope.Send("STOP");
    scope.Send("FORMat:DATA REAL,32");
    const bool lsbFirst = scope.Query("FORMat:BORDer?") == "LSBF";
    for (const std::string& channel : channels) {
        if (!mxo)
            scope.Send(channel + ":DATA:POINts MAX");
        std::stringstream header(scope.Query(channel + ":DATA:HEADer?"));
        double field[4] = {};
        char comma = 0;
        header >> field[0] >> comma >> field[1] >> comma >> field[2] >> comma >> field[3];
        const std::string data = scope.Block(channel + ":DATA?");
        const std::size_t length = static_cast<std::size_t>(field[2]);
        EXPECT_EQ(data.size(), 4 * length) << channel;
        e.x.clear();
        std::vector<double> y;
        for (std::size_t i = 0; i < length && 4 * i + 3 < data.size(); ++i) {
            std::uint32_t bits = 0;
            for (int b = 0; b < 4; ++b)
                bits |= std::uint32_t{static_cast<unsigned char>(data[4 * i + b])}
                        << (8 * (lsbFirst ? b : 3 - b));
            y.push_back(std::bit_cast<float>(bits));
            e.x.push_back(field[0] + static_cast<double>(i) * (field[1] - field[0]) /
                                         (static_cast<double>(length) - 1));
        }
        e.y.push_back(y);
    }
    scope.Send("FORMat:DATA ASC,0");
    scope.Send("RUN");
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
    std::size_t row = 0;
    while (std::getline(in, line)) {
        ASSERT_LT(row, e.x.size()) << "more rows than samples";
        std::vector<double> values;
        std::stringstream fields(line);
        std::string f;
        while (std::getline(fields, f, ';'))
            values.push_back(std::strtod(f.c_str(), nullptr));
        ASSERT_EQ(values.size(), channels.size() + 1) << "row " << row;
        ASSERT_TRUE(Near(values[0], e.x[row])) << "row " << row << ": " << line;
        for (std::size_t c = 0; c < channels.size(); ++c)
            ASSERT_TRUE(Near(values[c + 1], e.y[c][row]))
                << channels[c] << " row " << row << ": " << line << " expected " << e.y[c][row];
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

struct Model {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> channels;
    bool mxo;
    const char* powerOnByteOrder; // what FORMat:BORDer? must answer after the capture
};

const Model kModels[] = {
    // Power-on byte order MSB first, frozen remote display: the data still
    // holds the traces.
    {"Rtb2004",
     {"--instrument", "rs-rtb", "--waveform-points", "20000"},
     {"CHAN1", "CHAN3"},
     false,
     "MSBF"},
    {"Rta4004Habits",
     {"--instrument", "rs-rtb", "--idn", "Rohde&Schwarz,RTA4004,1335.7700k04/100001,1.700",
      "--habit", "byte-order=lsb", "--habit", "display-update=on", "--waveform-points", "3000"},
     {"CHAN2"},
     false,
     "LSBF"},
    {"Mxo44",
     {"--instrument", "rs-rtb", "--idn", "Rohde&Schwarz,MXO44,1335.5050k44/100001,1.3.2.0",
      "--waveform-points", "5000"},
     {"CHAN2", "CHAN4"},
     true,
     "MSBF"},
};

class RsWaveforms : public ::testing::TestWithParam<std::tuple<Model, bool>> {};

// The record is the memory's (the scope was stopped for it: running, it
// gives the 1 000 points of the screen), and the scope runs again with its
// data format and byte order as they were.
TEST_P(RsWaveforms, CsvHoldsTheServedValuesAndTheScopeIsLeftAsItWas) {
    const auto& [model, usb] = GetParam();
    SimProcess sim(model.simArgs);
    ASSERT_TRUE(sim.Started());
    TempDir shots;
    TempDir logs;
    std::vector<std::string> args = {"capture", usb ? sim.UsbResource() : sim.SocketResource()};
    if (usb)
        args.insert(args.end(), {"--usbip", sim.UsbipServer()});
    args.insert(args.end(), {"--dir", shots.Path(), "--name", "shot", "--waveforms",
                             Joined(model.channels), "--timeout", "20000"});
    const CliRun run = RunCli(logs, args);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Waveform data saving done.\n"), std::string::npos) << run.out;

    const Scope scope(sim.SocketResource());
    EXPECT_EQ(scope.Query("ACQuire:STATe?"), "RUN");
    EXPECT_EQ(scope.Query("FORMat?"), "ASC,0");
    EXPECT_EQ(scope.Query("FORMat:BORDer?"), model.powerOnByteOrder);
    const Expected expected = Reference(scope, model.channels, model.mxo);
    ExpectCsvEquals(ReadFileText(shots.File("shot.csv")), expected, model.channels);
}

INSTANTIATE_TEST_SUITE_P(Models, RsWaveforms,
                         ::testing::Combine(::testing::ValuesIn(kModels), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Usb" : "Socket");
                         });

TEST(RsWaveformFaults, EachChannelThatCannotBeReadIsNamedWithItsReason) {
    struct Case {
        const char* atInstrument;
        const char* channels;
        int exitCode;
        const char* message;
        const char* csvHeader; // "": no data file
    };
    const Case cases[] = {
        {"CHAN2:STATe OFF", "CHAN1,CHAN2", 0, "Waveform data saving done. CHAN2 is switched off.\n",
         "time/s;CHAN1(voltage/V)\r\n"},
        {"SIMulate:FAULt 2,HEADer", "CHAN1,CHAN2", 0,
         "Waveform data saving done. CHAN2: the data header 'HEADER?' has no number in field 1.\n",
         "time/s;CHAN1(voltage/V)\r\n"},
        {"SIMulate:FAULt 3,NAN", "CHAN3,CHAN4", 0,
         "Waveform data saving done. CHAN3: sample 5 is not a finite number.\n",
         "time/s;CHAN4(voltage/V)\r\n"},
        {"SIMulate:FAULt 1,SHORt", "CHAN1", 1,
         "Waveform data saving done. CHAN1: the data block holds 7996 bytes, not the 8000 of the "
         "2000 samples the header announced.\n",
         ""},
    };
    TempDir logs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.atInstrument);
        SimProcess sim({"--instrument", "rs-rtb", "--waveform-points", "2000"});
        ASSERT_TRUE(sim.Started());
        Scope(sim.SocketResource()).Send(c.atInstrument);
        TempDir shots;
        const CliRun run = RunCli(logs, {"capture", sim.SocketResource(), "--dir", shots.Path(),
                                         "--name", "shot", "--waveforms", c.channels});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
        if (*c.csvHeader == '\0') {
            EXPECT_FALSE(PathExists(shots.File("shot.csv")));
        } else {
            EXPECT_EQ(ReadFileText(shots.File("shot.csv")).rfind(c.csvHeader, 0), 0u);
        }
    }
}

} // namespace
} // namespace quarvel::test
