// Another VISA library loaded at run time (our own libquarvel-visa.so, by
// path, as if it were a vendor's): which resources go to it, that its
// sessions are served through its entry points under handles of ours, and
// that they live and die with our resource manager.

#include "tests/support/sim_session.h"
#include "visa/visa.h"
#include "visa/visa_internal.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using quarvel::test::FindAll;
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
    // a GPIB name goes to the library (quarvel-cli scpi's test), and with
    // every resource its sessions serve our own transports' names too
    // (WaveformCaptureThrough's LoadedLibrary cases).
    ViSession own = VI_NULL;
    ASSERT_EQ(viOpen(rm, sim.SocketResource().c_str(), VI_NULL, 0, &own), VI_SUCCESS);
    EXPECT_EQ(qviSetProgressHandler(own, nullptr, nullptr), VI_SUCCESS);

    // Every resource to the library: the session is its, under our handle.
    ASSERT_EQ(qviUseVisaLibrary(rm, kLibrary, QVI_LIBRARY_FOR_ALL, message), VI_SUCCESS);
    ViSession loaded = VI_NULL;
    ASSERT_EQ(viOpen(rm, sim.SocketResource().c_str(), VI_NULL, 0, &loaded), VI_SUCCESS);
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

std::string FindReport(ViSession rm) {
    char report[1024] = {};
    EXPECT_EQ(qviFindReport(rm, report, sizeof report), VI_SUCCESS);
    return report;
}

// A vendor's library (a stand-in with a GPIB instrument and a serial port,
// lacking most functions and all of Quarvel's own) lists its resources
// through our viFindRsrc, when the method "library" is among those used; all
// of them, identified through the library, by quarvel-cli list's test. Here
// the search expression that reaches it, and what the report says.
TEST(LoadedVisaLibrary, ListsWhatTheLibraryFindsForTheExpression) {
    const std::string fake = QUARVEL_FAKE_VENDOR_VISA;
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(
        viSetAttribute(rm, QVI_ATTR_DISCOVERY_METHODS, reinterpret_cast<ViAttrState>("library")),
        VI_SUCCESS);
    EXPECT_EQ(FindAll(rm, "?*"), std::vector<std::string>{});
    EXPECT_EQ(FindReport(rm), "library: no VISA library is loaded\n");
    char message[QVI_MESSAGE_BUFLEN] = {};
    ASSERT_EQ(qviUseVisaLibrary(rm, fake.c_str(), QVI_LIBRARY_FOR_OTHERS, message), VI_SUCCESS)
        << message;
    using Case = std::tuple<const char*, std::vector<std::string>, std::string>;
    for (const auto& [expression, names, report] :
         {Case{"GPIB?*", {"GPIB0::7::INSTR"}, "listed 1 resource"},
          Case{"USB?*", {}, "answered VI_ERROR_RSRC_NFOUND (0xBFFF0011)"}}) {
        EXPECT_EQ(FindAll(rm, expression), names) << expression;
        EXPECT_EQ(FindReport(rm), "library: " + fake + " " + report + "\n") << expression;
    }
    viClose(rm);
}

} // namespace
