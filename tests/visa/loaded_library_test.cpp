// Another VISA library loaded at run time (our own libquarvel-visa.so, by
// path, as if it were a vendor's): which resources go to it, that its
// sessions are served through its entry points under handles of ours, and
// that they live and die with our resource manager.

#include "tests/support/sim_process.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <string>

using quarvel::test::SimProcess;

namespace {

constexpr const char* kLibrary = QUARVEL_VISA_SHARED_LIBRARY;

std::string QueryIdn(ViSession vi) {
    char idn[256] = {};
    // viQueryf reaches the library through its viVQueryf.
    const ViStatus s = viQueryf(vi, "*IDN?\n", "%255t", idn);
    return s == VI_SUCCESS ? idn : qviStatusName(s);
}

TEST(LoadedVisaLibrary, TakesWhatItIsGivenAndServesItThroughItsOwnFunctions) {
    SimProcess sim({"--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started()) << sim.Output();
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    char message[QVI_MESSAGE_BUFLEN] = "x";
    ASSERT_EQ(qviUseVisaLibrary(rm, kLibrary, QVI_LIBRARY_FOR_OTHERS, message), VI_SUCCESS)
        << message;
    EXPECT_STREQ(message, "");
    EXPECT_EQ(qviUseVisaLibrary(rm, kLibrary, 7, message), VI_ERROR_INV_PARAMETER);

    // Our transports keep what they open (our progress reports work there);
    // a GPIB name goes to the library, whose own answer comes back.
    ViSession own = VI_NULL;
    ASSERT_EQ(viOpen(rm, sim.SocketResource().c_str(), VI_NULL, 0, &own), VI_SUCCESS);
    EXPECT_EQ(qviSetProgressHandler(own, nullptr, nullptr), VI_SUCCESS);
    ViSession gpib = 1;
    EXPECT_EQ(viOpen(rm, "GPIB0::5::INSTR", VI_NULL, 0, &gpib), VI_ERROR_LIBRARY_NFOUND);
    EXPECT_EQ(gpib, VI_NULL);
    ASSERT_EQ(qviOpenFailureText(rm, "GPIB0::5::INSTR", VI_ERROR_LIBRARY_NFOUND, message),
              VI_SUCCESS);
    EXPECT_EQ(std::string(message), std::string("the VISA library ") + kLibrary +
                                        " answered VI_ERROR_LIBRARY_NFOUND (0xBFFF009E) for "
                                        "GPIB0::5::INSTR");

    // Every resource to the library: the session is its, under our handle.
    ASSERT_EQ(qviUseVisaLibrary(rm, kLibrary, QVI_LIBRARY_FOR_ALL, message), VI_SUCCESS);
    ViSession loaded = VI_NULL;
    ASSERT_EQ(viOpen(rm, sim.SocketResource().c_str(), VI_NULL, 0, &loaded), VI_SUCCESS);
    EXPECT_NE(loaded, own);
    EXPECT_EQ(qviSetProgressHandler(loaded, nullptr, nullptr), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(QueryIdn(loaded), "ACME,X1,1,1.0\n");
    EXPECT_EQ(viSetAttribute(loaded, VI_ATTR_TMO_VALUE, 1234), VI_SUCCESS);
    ViUInt32 timeout = 0;
    EXPECT_EQ(viGetAttribute(loaded, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
    EXPECT_EQ(timeout, 1234u);
    ViUInt32 ownTimeout = 0;
    EXPECT_EQ(viGetAttribute(own, VI_ATTR_TMO_VALUE, &ownTimeout), VI_SUCCESS);
    EXPECT_EQ(ownTimeout, 2000u);

    // A manager that stops using the library leaves open sessions with it.
    ASSERT_EQ(qviUseVisaLibrary(rm, nullptr, QVI_LIBRARY_FOR_OTHERS, message), VI_SUCCESS);
    EXPECT_EQ(QueryIdn(loaded), "ACME,X1,1,1.0\n");
    EXPECT_EQ(QueryIdn(own), "ACME,X1,1,1.0\n");

    // Closing one closes it in the library; closing the manager closes the rest.
    EXPECT_EQ(viClose(loaded), VI_SUCCESS);
    EXPECT_EQ(viClose(loaded), VI_ERROR_INV_OBJECT);
    ASSERT_EQ(qviUseVisaLibrary(rm, kLibrary, QVI_LIBRARY_FOR_ALL, message), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, sim.SocketResource().c_str(), VI_NULL, 0, &loaded), VI_SUCCESS);
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
    EXPECT_EQ(QueryIdn(loaded), "VI_ERROR_INV_OBJECT");
    EXPECT_EQ(QueryIdn(own), "VI_ERROR_INV_OBJECT");
}

} // namespace
