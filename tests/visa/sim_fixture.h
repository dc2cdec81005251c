#pragma once

// A quarvel-sim process, a resource manager pointed at it and, when a link is
// named, a session on it: the set-up of this folder's tests that talk to the
// simulator through the VISA layer.

#include "tests/support/sim_session.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quarvel::test {

class VisaSimFixture : public ::testing::Test {
protected:
    // Starts the simulator with args (ending one started before), its
    // sessions waiting timeoutMs, and opens m_vi on `link` when given.
    void Start(const std::vector<std::string>& args, ViUInt32 timeoutMs = 2000,
               std::optional<Lan> link = std::nullopt) {
        TearDown();
        m_sim = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(m_sim->Started()) << m_sim->Output();
        m_rm = SimResourceManager(*m_sim, timeoutMs);
        ASSERT_NE(m_rm, VI_NULL);
        if (link) {
            const std::string resource = ResourceOn(*m_sim, *link);
            ASSERT_EQ(viOpen(m_rm, resource.c_str(), VI_NULL, 0, &m_vi), VI_SUCCESS) << resource;
        }
    }
    // Another session (VI_NULL, and a failure, when it cannot be opened).
    ViSession Open(const std::string& resource) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, resource.c_str(), VI_NULL, 0, &vi), VI_SUCCESS) << resource;
        return vi;
    }
    void TearDown() override {
        if (m_rm != VI_NULL)
            viClose(m_rm);
        m_rm = VI_NULL;
    }

    // *IDN? on vi answers `expected` and a line feed.
    static void ExpectIdn(ViSession vi, const std::string& expected) {
        char idn[256] = {};
        ASSERT_EQ(viQueryf(vi, "*IDN?\n", "%t", idn), VI_SUCCESS);
        EXPECT_EQ(std::string(idn), expected + "\n");
    }
    // The status of *OPC? on vi; VI_ERROR_IO for an answer other than 1.
    static ViStatus Opc(ViSession vi) {
        ViInt32 opc = 0;
        const ViStatus s = viQueryf(vi, "*OPC?\n", "%d", &opc);
        return s == VI_SUCCESS && opc != 1 ? VI_ERROR_IO : s;
    }

    std::unique_ptr<SimProcess> m_sim;
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

} // namespace quarvel::test
