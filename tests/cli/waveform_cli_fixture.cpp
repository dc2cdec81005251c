#include "tests/cli/waveform_cli_fixture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace quarvel::test {

ScopePanel::ScopePanel(const std::string& resource) {
    viOpenDefaultRM(&m_rm);
    viOpen(m_rm, resource.c_str(), VI_NULL, 5000, &m_vi);
    viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
}

ScopePanel::~ScopePanel() {
    viClose(m_rm);
}

void ScopePanel::Send(const std::string& command) const {
    viPrintf(m_vi, "%s\n", command.c_str());
}

void ScopePanel::SendAndWait(const std::vector<std::string>& commands) const {
    for (const std::string& command : commands)
        Send(command);
    Query("*OPC?");
}

std::string ScopePanel::Query(const std::string& command) const {
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

double ScopePanel::Number(const std::string& query) const {
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

std::string ScopePanel::Block(const std::string& query) const {
    Send(query);
    std::string reply;
    std::size_t need = SIZE_MAX;
    std::size_t start = 0;
    while (reply.size() < need) {
        char chunk[65536];
        ViUInt32 n = 0;
        if (viRead(m_vi, reinterpret_cast<ViByte*>(chunk), sizeof chunk, &n) < VI_SUCCESS || n == 0)
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
    // The rest of the reply, up to its line feed (a data byte 0A may have
    // ended the last read; some scopes send NULs or junk before it).
    viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 300);
    for (std::string tail = reply.substr(std::min(need, reply.size()));
         tail.find('\n') == std::string::npos;) {
        const std::string byte = Read(1);
        if (byte.empty())
            break;
        tail += byte;
    }
    viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 5000);
    return need == SIZE_MAX ? std::string() : reply.substr(start, need - start);
}

std::string ScopePanel::Read(std::size_t count) const {
    std::string out(count, '\0');
    std::size_t total = 0;
    while (total < count) {
        ViUInt32 n = 0;
        const ViStatus status =
            viRead(m_vi, reinterpret_cast<ViByte*>(out.data() + total),
                   static_cast<ViUInt32>(std::min<std::size_t>(count - total, 1 << 20)), &n);
        total += n;
        if (status < VI_SUCCESS || n == 0)
            break;
    }
    out.resize(total);
    return out;
}

std::vector<double> NumberFields(const std::string& text) {
    std::vector<double> values;
    std::stringstream in(text);
    std::string field;
    while (std::getline(in, field, ','))
        values.push_back(std::strtod(field.c_str(), nullptr));
    return values;
}

namespace {

// Compares the CSV with the reference, line by line; stops at the first
// difference so a fault gives one message, not a million.
void ExpectCsvEquals(const std::string& csv, const Expected& e,
                     const std::vector<std::string>& channels) {
    const auto near = [&e](double a, double b) {
        return std::abs(a - b) <= 1e-6 * std::abs(b) + e.floor;
    };
    std::stringstream in(csv);
    std::string line;
    std::getline(in, line);
    std::string header = "time/s";
    for (const std::string& c : channels)
        header += ";" + c + "(voltage/V)";
    ASSERT_EQ(line, header + "\r");
    ASSERT_FALSE(e.x.empty());
    ASSERT_EQ(e.y.size(), channels.size());
    std::size_t row = 0;
    while (std::getline(in, line)) {
        ASSERT_LT(row, e.x.size()) << "more rows than points";
        std::vector<double> values;
        std::stringstream fields(line);
        std::string f;
        while (std::getline(fields, f, ';'))
            values.push_back(std::strtod(f.c_str(), nullptr));
        ASSERT_EQ(values.size(), channels.size() + 1) << "row " << row;
        ASSERT_TRUE(near(values[0], e.x[row])) << "row " << row << ": " << line;
        for (std::size_t c = 0; c < channels.size(); ++c)
            ASSERT_TRUE(near(values[c + 1], e.y[c][row]))
                << channels[c] << " row " << row << ": " << line << " expected " << e.y[c][row];
        ++row;
    }
    EXPECT_EQ(row, e.x.size());
}

} // namespace

void ExpectCsvMatchesReference(const SimProcess& sim, bool usb,
                               const std::vector<std::string>& channels,
                               const Reference& reference) {
    TempDir shots;
    TempDir logs;
    std::string joined;
    for (const std::string& c : channels)
        joined += (joined.empty() ? "" : ",") + c;
    std::vector<std::string> args = {"capture", usb ? sim.UsbResource() : sim.SocketResource()};
    if (usb)
        args.insert(args.end(), {"--usbip", sim.UsbipServer()});
    args.insert(args.end(), {"--dir", shots.Path(), "--name", "shot", "--waveforms", joined,
                             "--timeout", "20000"});
    const CliRun run = RunCli(logs, args);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Waveform data saving done.\n"), std::string::npos) << run.out;

    const ScopePanel scope(sim.SocketResource());
    ExpectCsvEquals(ReadFileText(shots.File("shot.csv")), reference(scope, channels), channels);
}

} // namespace quarvel::test
