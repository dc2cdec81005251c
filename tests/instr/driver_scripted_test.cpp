// The drivers on a scripted in-memory session: replies the simulated
// instruments do not give (register values with other bits set, run states
// and trigger modes in lower case, a raw PNG over a transport without END),
// the Siglent driver's memory of the trigger mode it saw running, and the
// echoed-header rule every driver applies to the value of a query.

#include "instr/instr_keys_infiniium.h"
#include "instr/instr_keys_infiniivision.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"
#include "instr/reply_header.h"
#include "tests/instr/driver_fixture.h"
#include "tests/instr/scripted_session.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

using visa::MemoryDeviceOptions;

// InfiniiVision's run bit (8) decides whatever the other bits; Infiniium's
// run state word is compared without case.
TEST(ScriptedKeysight, StopTellsTheRunStateFromTheRunBitOrWord) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    CInstrKeysInfiniiVision vision;
    CInstrKeysInfiniium infiniium;
    vision.SetSession(s.Session());
    infiniium.SetSession(s.Session());
    const Lines visionStop = {":OPEREGISTER:CONDITION?\n", ":STOP\n", "*OPC?\n"};
    const Lines infiniiumStop = {":RSTATE?\n", ":STOP\n", "*OPC?\n"};
    const struct {
        CInstrLL& driver;
        const char* reply;
        bool running;
    } cases[] = {
        {vision, "+8\n", true},       {vision, "+40\n", true},         {vision, "+0\n", false},
        {vision, "+32\n", false},     {vision, "+4119\n", false},      {infiniium, "RUN\n", true},
        {infiniium, "run\n", true},   {infiniium, "Run\n", true},      {infiniium, "STOP\n", false},
        {infiniium, "SING\n", false}, {infiniium, "RUNNING\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        s.Device().QueueReply(c.reply);
        s.Device().QueueReply("1\n");
        EXPECT_EQ(c.driver.StopInstrument(), c.running);
        EXPECT_EQ(s.TakeSent(), &c.driver == &vision ? visionStop : infiniiumStop);
    }
    // No reply to the register query: not running, and nothing else is sent.
    EXPECT_FALSE(vision.StopInstrument());
    EXPECT_EQ(s.TakeSent(), Lines{":OPEREGISTER:CONDITION?\n"});
}

TEST(ScriptedSiglent, TriggerModeIsKeptAsTheInstrumentSentIt) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    CInstrSiglSDS driver;
    driver.SetSession(s.Session());
    // Run before any Stop restores AUTO; Single is a mode of its own.
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_TRUE(driver.RunInstrument(true, true));
    EXPECT_EQ(s.TakeSent(), (Lines{"TRMD AUTO\n", "TRMD SINGLE\n"}));

    s.Device().QueueReply("norm\n");
    s.Device().QueueReply("1\n");
    EXPECT_TRUE(driver.StopInstrument());
    EXPECT_EQ(s.TakeSent(), (Lines{"TRMD?\n", "TRMD STOP\n", "*OPC?\n"}));
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_EQ(s.TakeSent(), Lines{"TRMD norm\n"});

    // With command headers on (COMM_HEADER SHORT or LONG) the mode follows
    // the header; a stopped or single mode leaves the saved one.
    s.Device().QueueReply("TRIG_MODE SINGLE\n");
    s.Device().QueueReply("*OPC 1\n");
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_EQ(driver.GetTriggerMode(), "norm");
    s.Device().QueueReply("TRMD AUTO\n");
    s.Device().QueueReply("*OPC 1\n");
    EXPECT_TRUE(driver.StopInstrument());
    s.TakeSent();
    EXPECT_TRUE(driver.RunInstrument(true, false));
    EXPECT_EQ(s.TakeSent(), Lines{"TRMD AUTO\n"});
}

// Read to its end across the line feeds inside it, its terminating line feed
// dropped: EveryFamily's TekTdsSocket case.
TEST(ScriptedTektronix, RawPngCutAfterALineFeedInsideItFails) {
    // Like a raw socket: no END, every read ends at a line feed.
    MemoryDeviceOptions noEnd;
    noEnd.signalsEnd = false;
    ScriptedSession s(noEnd);
    ASSERT_TRUE(s.Open());
    CInstrTekTDS driver;
    driver.SetSession(s.Session());
    driver.SetTransferTimeout(500);
    // Cut inside the IDAT chunk, right after one of its line feeds.
    const std::string png = SamplePng();
    s.Device().QueueReply(png.substr(0, png.find("some\n") + 5));
    ByteBuffer cut;
    EXPECT_FALSE(driver.GetScreenshot(cut));
    EXPECT_TRUE(cut.empty());
}

// The echoed-header rule every driver applies to the value of a query.
TEST(EchoedHeader, IsSkippedInEveryFormInstrumentsUse) {
    struct Case {
        const char* query;
        const char* reply;
        const char* value;
    };
    const Case cases[] = {
        // Siglent COMM_HEADER SHORT and LONG (a long form of its own).
        {"TRMD?", "TRMD AUTO", "AUTO"},
        {"TRMD?", "TRIG_MODE NORM", "NORM"},
        {"TRIG_MODE?", "trmd auto", "auto"},
        {"*OPC?", "*OPC 1", "1"},
        // Tektronix HEADer ON: long form, leading colon, upper case.
        {"ACQuire:STATE?", ":ACQUIRE:STATE 1", "1"},
        {"ACQ:STATE?\n", ":ACQUIRE:STATE  0", "0"},
        // Keysight :SYSTem:HEADer ON, the short form of a long query.
        {":OPEREGISTER:CONDITION?\n", ":OPER:COND +4128", "+4128"},
        {":CHANnel2:SCALe?", ":CHAN2:SCAL 5.0E-01", "5.0E-01"},
        // No echo: the reply stays as it is.
        {"TRMD?", "AUTO", "AUTO"},
        {"TRMD?", "TRMD", "TRMD"},
        {"TRMD?", "TRIG AUTO", "TRIG AUTO"},
        {":CHAN1:SCAL?", ":CHAN2:SCAL 1", ":CHAN2:SCAL 1"},
        {":ACQ:STATE?", ":ACQ 1", ":ACQ 1"},
        {":ACQ?", ":ACQ:STATE 1", ":ACQ:STATE 1"},
        {"*OPC?", "*OP 1", "*OP 1"},
        {":WAVEFORM:DATA?", "WA 1", "WA 1"},
        {"", "TRMD AUTO", "TRMD AUTO"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.query) + " / " + c.reply);
        EXPECT_EQ(instr::SkipEchoedHeader(c.reply, c.query), c.value);
    }
}

} // namespace
} // namespace quarvel::test
