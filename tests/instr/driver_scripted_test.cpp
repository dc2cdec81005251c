// The drivers on a scripted in-memory session: replies the simulated
// instruments do not give (register values with other bits set, run states
// and trigger modes in lower case, a raw PNG over a transport without END).

#include "instr/instr_keys_infiniium.h"
#include "instr/instr_keys_infiniivision.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"
#include "tests/instr/driver_fixture.h"
#include "tests/instr/scripted_session.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

using visa::MemoryDeviceOptions;

TEST(ScriptedInfiniiVision, RunBitDecidesWasRunningWhateverTheOtherBits) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    CInstrKeysInfiniiVision driver;
    driver.SetSession(s.Session());
    const Lines stop = {":OPEREGISTER:CONDITION?\n", ":STOP\n", "*OPC?\n"};
    for (const auto& [reply, running] :
         {std::pair{"+8\n", true}, std::pair{"+40\n", true}, std::pair{"+0\n", false},
          std::pair{"+32\n", false}, std::pair{"+4119\n", false}}) {
        SCOPED_TRACE(reply);
        s.Device().QueueReply(reply);
        s.Device().QueueReply("1\n");
        EXPECT_EQ(driver.StopInstrument(), running);
        EXPECT_EQ(s.TakeSent(), stop);
    }
    // No reply to the register query: not running, and nothing else is sent.
    EXPECT_FALSE(driver.StopInstrument());
    EXPECT_EQ(s.TakeSent(), Lines{":OPEREGISTER:CONDITION?\n"});
}

TEST(ScriptedInfiniium, RunStateWordIsComparedWithoutCase) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    CInstrKeysInfiniium driver;
    driver.SetSession(s.Session());
    for (const auto& [reply, running] :
         {std::pair{"RUN\n", true}, std::pair{"run\n", true}, std::pair{"Run\n", true},
          std::pair{"STOP\n", false}, std::pair{"SING\n", false}, std::pair{"RUNNING\n", false}}) {
        SCOPED_TRACE(reply);
        s.Device().QueueReply(reply);
        s.Device().QueueReply("1\n");
        EXPECT_EQ(driver.StopInstrument(), running);
        EXPECT_EQ(s.TakeSent(), (Lines{":RSTATE?\n", ":STOP\n", "*OPC?\n"}));
    }
}

TEST(ScriptedSiglent, TriggerModeIsKeptAsTheInstrumentSentIt) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    CInstrSiglSDS driver;
    driver.SetSession(s.Session());

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

TEST(ScriptedTektronix, RawPngSplitAtLineFeedsIsReadToItsEndOrFailsWhenCut) {
    // Like a raw socket: no END, every read ends at a line feed.
    MemoryDeviceOptions noEnd;
    noEnd.signalsEnd = false;
    ScriptedSession s(noEnd);
    ASSERT_TRUE(s.Open());
    CInstrTekTDS driver;
    driver.SetSession(s.Session());
    const std::string png = SamplePng();
    s.Device().QueueReply(png + "\n");
    ByteBuffer out;
    ASSERT_TRUE(driver.GetScreenshot(out));
    // The reply's terminating line feed is not part of the file.
    EXPECT_EQ(std::string(out.begin(), out.end()), png);
    EXPECT_EQ(s.TakeSent().back(), "HARDCOPY START\n");

    // Cut inside the IDAT chunk, right after one of its line feeds: failure.
    s.Device().QueueReply(png.substr(0, png.find("some\n") + 5));
    ByteBuffer cut;
    EXPECT_FALSE(driver.GetScreenshot(cut));
    EXPECT_TRUE(cut.empty());
}

} // namespace
} // namespace quarvel::test
