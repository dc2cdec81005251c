#pragma once

// A connection to a quarvel-sim instrument over one of its links (the LAN
// transports, or USBTMC through the simulator's USB/IP server), identified
// and given its driver, for the driver tests.

#include "instr/instr_connection.h"
#include "tests/support/sim_process.h"
#include "tests/support/sim_session.h"
#include "tests/support/temp_dir.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarvel::test {

// Commands as the simulator's transcript lists them.
using Lines = std::vector<std::string>;

// A PNG-structured file whose chunk data holds line feeds, as real ones do
// (the CRCs are not real ones).
inline std::string SamplePng() {
    const auto chunk = [](const std::string& type, const std::string& data) {
        const auto n = static_cast<std::uint32_t>(data.size());
        const std::string length = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                                    static_cast<char>(n >> 8), static_cast<char>(n)};
        return length + type + data + "CRC!";
    };
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", std::string(13, '\n')) +
           chunk("IDAT", "x\n\n\r\nsome\ndata") + chunk("IDAT", "") + chunk("IEND", "");
}

// Opens the simulator's resource on `lan`.
inline bool OpenSim(CInstrConnection& connection, const SimProcess& sim, Lan lan) {
    return PointAtSim(connection.GetResourceManager(), sim) &&
           connection.Open(ResourceOn(sim, lan));
}

inline bool ConnectToSim(CInstrConnection& connection, const SimProcess& sim, Lan lan) {
    return OpenSim(connection, sim, lan) && connection.QueryIdn() && connection.CreateDriver();
}

// The simulator started for one family with its image replies dumped into a
// temporary directory, and a connection to it that has its driver.
class SimDriver {
public:
    SimDriver(const std::string& instrument, Lan lan, std::vector<std::string> extraArgs = {})
        : m_sim(Args(instrument, extraArgs)) {
        m_ready = m_sim.Started() && ConnectToSim(m_connection, m_sim, lan);
        // The identification is not part of what the driver tests compare.
        m_sim.ClearTranscript();
    }

    bool Ready() const { return m_ready; }
    CInstrLL& Driver() { return *m_connection.GetDriver(); }
    CInstrConnection& Connection() { return m_connection; }
    const SimProcess& Sim() const { return m_sim; }

    // Every command the simulator received since the last call. Over a raw
    // socket nothing tells when the simulator has handled a command that has
    // no reply, so an "*OPC?" query, answered after everything sent before
    // it, marks the point; it is not part of the result.
    std::vector<std::string> TakeTranscript() {
        Sync();
        std::vector<std::string> lines = std::move(m_received);
        m_received.clear();
        return lines;
    }

    // The image files the simulator has served so far, oldest first.
    std::vector<std::vector<std::uint8_t>> ServedImages() {
        Sync();
        return ReadDirFiles(m_dumpDir.Path());
    }

    ViUInt32 SessionTimeout() const {
        ViUInt32 timeout = 0;
        viGetAttribute(m_connection.GetSession(), VI_ATTR_TMO_VALUE, &timeout);
        return timeout;
    }
    bool SetSessionTimeout(ViUInt32 ms) {
        return viSetAttribute(m_connection.GetSession(), VI_ATTR_TMO_VALUE, ms) == VI_SUCCESS;
    }

private:
    void Sync() {
        ViInt32 complete = 0;
        const bool synced =
            viQueryf(m_connection.GetSession(), "*OPC?\n", "%d", &complete) == VI_SUCCESS;
        std::vector<std::string> lines = m_sim.Transcript();
        m_sim.ClearTranscript();
        if (synced && !lines.empty() && lines.back() == "*OPC?")
            lines.pop_back();
        m_received.insert(m_received.end(), lines.begin(), lines.end());
    }

    std::vector<std::string> Args(const std::string& instrument,
                                  const std::vector<std::string>& extra) const {
        std::vector<std::string> args = {"--instrument", instrument, "--dump-images",
                                         m_dumpDir.Path()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    TempDir m_dumpDir; // declared before m_sim: the simulator writes into it
    SimProcess m_sim;
    CInstrConnection m_connection;
    bool m_ready = false;
    std::vector<std::string> m_received;
};

// The data retrieval tests' fixture: a simulator started for the test, its
// driver with the channel list made as the capture controller makes it at
// connect time.
class SimRetrieval : public ::testing::Test {
protected:
    void Connect(const std::string& instrument, bool vxi11 = false) {
        m_sim = std::make_unique<SimDriver>(instrument, vxi11 ? Lan::Vxi11 : Lan::Socket);
        ASSERT_TRUE(m_sim->Ready()) << m_sim->Sim().Output();
        m_driver = &m_sim->Driver();
        ChannelList names;
        m_driver->GetChannelList(names);
    }
    // Sends one command (a line feed is added) and forgets it, so that the
    // next Sent() holds only what the driver sent after it.
    void Send(const std::string& command) {
        ASSERT_EQ(viPrintf(m_driver->GetSession(), "%s\n", command.c_str()), VI_SUCCESS);
        m_sim->TakeTranscript();
    }
    Lines Sent() { return m_sim->TakeTranscript(); }

    std::unique_ptr<SimDriver> m_sim;
    CInstrLL* m_driver = nullptr;
};

} // namespace quarvel::test
