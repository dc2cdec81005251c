#pragma once

// What the waveform tests of quarvel-cli share: a VISA session of the test's
// own to the simulator, for reading the codes and scale it serves (never
// through a driver's conversion); the capture run over a LAN socket or USB
// (USB/IP); and the CSV compared with the values a family's reference
// (waveform_references.h) computed.

#include "tests/support/cli_run.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quarvel::test {

// A raw VISA session (termination character on) to the simulator's socket.
class ScopePanel {
public:
    explicit ScopePanel(const std::string& resource);
    ~ScopePanel();
    ScopePanel(const ScopePanel&) = delete;
    ScopePanel& operator=(const ScopePanel&) = delete;

    void Send(const std::string& command) const;
    // Sends the commands and waits (*OPC?) until they are carried out.
    void SendAndWait(const std::vector<std::string>& commands) const;
    // The reply's first line that is not empty (a Siglent block is followed
    // by two line feeds), without its line end.
    std::string Query(const std::string& command) const;
    // A number with its unit, SI prefix included ("5.00E-01V", "100.00MSa/s").
    double Number(const std::string& query) const;
    // The data bytes of the definite block in the reply to `query`, whatever
    // comes before its '#'; the rest of the reply is read up to its line feed.
    std::string Block(const std::string& query) const;
    // Exactly `count` bytes (fewer when the reply ends or times out).
    std::string Read(std::size_t count) const;

private:
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

// The fields of a comma separated reply, as numbers.
std::vector<double> NumberFields(const std::string& text);

// The time axis and one voltage column per channel, and the absolute
// tolerance beside the relative 1e-6 (a reference from floats needs more).
struct Expected {
    std::vector<double> x;
    std::vector<std::vector<double>> y;
    double floor = 1e-15;
};

// A family's reading of `channels` by its manual (waveform_references.h).
using Reference =
    std::function<Expected(const ScopePanel& scope, const std::vector<std::string>& channels)>;

// quarvel-cli capture --waveforms `channels` over the socket or USB, whose
// CSV must hold, row by row, what `reference` computes afterwards from what
// the simulator serves.
void ExpectCsvMatchesReference(const SimProcess& sim, bool usb,
                               const std::vector<std::string>& channels,
                               const Reference& reference);

} // namespace quarvel::test
