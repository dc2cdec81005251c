#pragma once

// A test fixture with a simulator started for the test and a connection to
// it that has its driver, for the data retrieval tests.

#include "instr/instr_connection.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quarvel::test {

class SimRetrieval : public ::testing::Test {
protected:
    // Starts the simulator for `instrument`, connects over the raw socket (or
    // VXI-11), identifies it, creates its driver and lists its channels as
    // the capture controller does at connect time.
    void Connect(const std::string& instrument, bool vxi11 = false);
    // Sends one command (a line feed is added).
    void Send(const std::string& command);
    // Where the next commands start in the transcript. Like SentSince, it
    // first waits for the simulator to handle everything sent so far (a
    // "*OPC?" round trip, left out of the transcript).
    std::size_t Mark() const;
    // The commands the simulator received after `mark`.
    std::vector<std::string> SentSince(std::size_t mark) const;

    std::unique_ptr<SimProcess> m_sim;
    CInstrConnection m_connection;
    CInstrLL* m_driver = nullptr;

private:
    std::vector<std::string> Received() const;
};

} // namespace quarvel::test
