// The definition-driven driver against the simulator: a file the image steps
// write on the instrument is deleted on every path (success, a failed read,
// a cancelled one), and each link carries the same exchange.

#include "instr/definition_parser.h"
#include "instr/instr_defined.h"
#include "tests/instr/driver_fixture.h"
#include "tests/instr/scripted_session.h"
#include "visa/visa_internal.h"

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

// The generic simulated instrument's test block stands for the image; the
// file commands are what a file-route family sends.
const char* const kFiledDefinition = R"([family]
name = "Filed"
maker = "QUARVEL"
models = ["SIM-*"]

[image]
format = "png"
file = "C:/Temp/{unique}.png"
steps = ["SAVE:IMAGe \"{file}\"", "*OPC?"]
query = ":TEST:BLOCK? 200000"
framing = "block"
delete = "FILESystem:DELEte \"{file}\""
)";

std::unique_ptr<CInstrDefined> DefinedDriver(const char* text) {
    instr::DefinitionProblem problem;
    auto definition = instr::ParseDefinition(text, "test.toml", problem);
    EXPECT_TRUE(definition) << problem.Text();
    if (!definition)
        return nullptr;
    return std::make_unique<CInstrDefined>(
        std::make_shared<const instr::InstrumentDefinition>(std::move(*definition)));
}

// Cancels the image's read once some of it has come (the commands before it
// are shorter), and goes on answering "cancel" as the window and the command
// line do until their request ends.
ViInt32 CancelDuringTheImage(ViSession, ViUInt64 done, ViUInt64, ViAddr cancelled) {
    bool& asked = *static_cast<bool*>(cancelled);
    asked = asked || done > 1000;
    return asked ? QVI_PROGRESS_CANCEL : QVI_PROGRESS_CONTINUE;
}

struct FileCase {
    const char* what;
    std::vector<std::string> simArgs;
    bool cancel;
    bool succeeds;
};

class DefinedFileRoute : public ::testing::TestWithParam<std::tuple<FileCase, Lan>> {};

const FileCase kFileCases[] = {
    {"Read", {}, false, true},
    // The block stops after 1000 bytes: the read runs into its timeout.
    {"FailedRead", {"--block-cut", "1000", "--fault-on", ":TEST:BLOCK?"}, false, false},
    // 200 kB at 200 kB/s: cancelled on its way.
    {"CancelledRead", {"--rate", "200", "--fault-on", ":TEST:BLOCK?"}, true, false},
};

INSTANTIATE_TEST_SUITE_P(Paths, DefinedFileRoute,
                         ::testing::Combine(::testing::ValuesIn(kFileCases),
                                            ::testing::Values(Lan::Socket, Lan::Vxi11, Lan::Hislip,
                                                              Lan::Usb)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).what) +
                                    LanName(std::get<1>(info.param));
                         });

TEST_P(DefinedFileRoute, TheFileOnTheInstrumentIsDeletedWhateverBecameOfTheRead) {
    const auto& [c, lan] = GetParam();
    std::vector<std::string> args = {"--instrument", "generic"};
    args.insert(args.end(), c.simArgs.begin(), c.simArgs.end());
    SimProcess sim(args);
    ASSERT_TRUE(sim.Started()) << sim.Output();
    CInstrConnection connection;
    ASSERT_TRUE(OpenSim(connection, sim, lan));
    const auto driver = DefinedDriver(kFiledDefinition);
    ASSERT_TRUE(driver);
    driver->SetSession(connection.GetSession());
    driver->SetTransferTimeout(700);
    bool cancelAsked = false;
    if (c.cancel)
        qviSetProgressHandler(connection.GetSession(), CancelDuringTheImage, &cancelAsked);

    ByteBuffer image;
    EXPECT_EQ(driver->GetScreenshot(image), c.succeeds);
    EXPECT_EQ(image.size(), c.succeeds ? 200000u : 0u);
    EXPECT_EQ(cancelAsked, c.cancel);
    // The handler is back in place after the delete.
    QviProgressHandler handler = nullptr;
    ViAddr userData = nullptr;
    ASSERT_EQ(qviGetProgressHandler(connection.GetSession(), &handler, &userData), VI_SUCCESS);
    EXPECT_EQ(handler, c.cancel ? &CancelDuringTheImage : nullptr);
    qviSetProgressHandler(connection.GetSession(), nullptr, nullptr);

    // The same file name in the save and the delete, one of this capture.
    const std::string& file = driver->LastInstrumentFile();
    EXPECT_TRUE(file.starts_with("C:/Temp/quarvel") && file.ends_with("_1.png")) << file;
    // The session still answers, after the delete (the simulator's
    // transcript is complete once this reply came). A paced reply that was
    // cancelled may still be on its way out of the simulator first.
    ASSERT_EQ(viSetAttribute(connection.GetSession(), VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    ViInt32 complete = 0;
    ASSERT_EQ(viQueryf(connection.GetSession(), "*OPC?\n", "%d", &complete), VI_SUCCESS);
    const Lines expected = {"SAVE:IMAGe \"" + file + "\"", "*OPC?", ":TEST:BLOCK? 200000",
                            "FILESystem:DELEte \"" + file + "\"", "*OPC?"};
    // A read that failed may be followed by the error query that asks the
    // instrument why; the delete must come all the same.
    Lines transcript = sim.Transcript();
    if (!c.succeeds)
        std::erase(transcript, ":SYST:ERR?");
    EXPECT_EQ(transcript, expected);
}

// Run control as a definition gives it: Stop asks the state and reports a
// running word; a word it does not name counts as not running.
TEST(DefinedRunControl, StopReportsTheStateWordAndRunSendsItsSteps) {
    SimProcess sim({"--instrument", "generic"});
    ASSERT_TRUE(sim.Started());
    CInstrConnection connection;
    ASSERT_TRUE(OpenSim(connection, sim, Lan::Socket));
    // The generic instrument answers *IDN? only; "*IDN?" stands in for the
    // state query, its first word "QUARVEL,SIM-1,0,1.0" for the state.
    const std::string base = std::string(kFiledDefinition) + R"(
[run]
stop = ["ACQ:STOP"]
run = ["ACQ:MODE CONT", "ACQ:RUN"]
single = ["ACQ:MODE ONCE", "ACQ:RUN"]
state_query = "*IDN?"
)";
    for (const auto& [running, wasRunning] :
         {std::pair{"running = [\"quarvel,sim-1,0,1.0\"]", true},
          std::pair{"running = [\"RUN\"]", false}}) {
        SCOPED_TRACE(running);
        const auto driver = DefinedDriver((base + running + "\n").c_str());
        ASSERT_TRUE(driver);
        driver->SetSession(connection.GetSession());
        sim.ClearTranscript();
        EXPECT_EQ(driver->StopInstrument(), wasRunning);
        EXPECT_TRUE(driver->RunInstrument(true, true));
        EXPECT_FALSE(driver->RunInstrument(false, false));
        ViInt32 complete = 0;
        ASSERT_EQ(viQueryf(connection.GetSession(), "*OPC?\n", "%d", &complete), VI_SUCCESS);
        EXPECT_EQ(sim.Transcript(),
                  (Lines{"*IDN?", "ACQ:STOP", "*OPC?", "ACQ:MODE ONCE", "ACQ:RUN", "*OPC?"}));
    }
}

// A bare PNG framed by its own chunks, as a raw socket delivers it (no END,
// reads end at line feeds): the file exactly, with or without a line feed
// after it, is InstrumentHabit's (the SiglentHd and TekMdo file-end
// habits). Here a reply that is no PNG, or whose chunk claims more than any
// image, fails at once and leaves the caller's buffer as it was.
TEST(DefinedPngFraming, NoPngOrAChunkLargerThanAnyImageFailsAtOnce) {
    visa::MemoryDeviceOptions noEnd;
    noEnd.signalsEnd = false;
    ScriptedSession s(noEnd);
    ASSERT_TRUE(s.Open());
    const auto driver = DefinedDriver(R"([family]
name = "Chunks"
maker = "ACME"
models = ["*"]
[image]
format = "png"
query = "IMG?"
framing = "png"
)");
    ASSERT_TRUE(driver);
    driver->SetSession(s.Session());
    driver->SetTransferTimeout(500);
    const std::string huge =
        SamplePng().substr(0, 8) + std::string("\xff\xff\xff\xf0IDAT", 8) + "data";

    for (const std::string& reply : {std::string("GIF89a\n"), huge}) {
        SCOPED_TRACE(reply.substr(0, 8));
        s.Device().QueueReply(reply);
        ByteBuffer out = {'k', 'e', 'p', 't'};
        EXPECT_FALSE(driver->GetScreenshot(out));
        EXPECT_EQ(std::string(out.begin(), out.end()), "kept");
        // A failed image read asks the instrument why.
        EXPECT_EQ(s.TakeSent(), (Lines{"IMG?\n", ":SYST:ERR?\n"}));
        viFlush(s.Session(), VI_READ_BUF_DISCARD);
    }
}

} // namespace
} // namespace quarvel::test
