// The SCPI engine shared by every simulated family: header matching, program
// message splitting, reply assembly and the IEEE 488.2 error queue.

#include "sim/command_table.h"
#include "sim/family_registry.h"
#include "sim/habits.h"
#include "sim/program_message.h"
#include "sim/sim_instrument.h"

#include <gtest/gtest.h>

#include <optional>

namespace quarvel::sim {
namespace {

// The numeric suffixes of the pattern `header` matches; nullopt when none does.
std::optional<std::vector<int>> Match(const CommandTable& table, const std::string& header) {
    std::vector<int> suffixes;
    if (table.Find(header, suffixes) == nullptr)
        return std::nullopt;
    return suffixes;
}

const auto kNothing = [](const CommandCall&, CommandResult&) {};

TEST(CommandTable, HeadersMatchShortAndLongFormsInAnyCaseWithOrWithoutLeadingColon) {
    CommandTable t;
    ASSERT_TRUE(t.Add(":DISPlay:DATA?", kNothing));
    for (const char* h : {":DISPlay:DATA?", ":DISP:DATA?", "DISP:DATA?", ":display:data?",
                          ":disp:DATA?", "DiSpLaY:dAtA?"})
        EXPECT_TRUE(Match(t, h)) << h;
    // Neither form: partial long forms, extra letters, missing '?', empty nodes.
    for (const char* h : {":DISPL:DATA?", ":DISPLAYS:DATA?", ":DISP:DATA", ":DISP::DATA?",
                          ":DISP:DATA:?", "", ":", "?"})
        EXPECT_FALSE(Match(t, h)) << h;
}

TEST(CommandTable, OptionalNodesAndNumericSuffixes) {
    CommandTable t;
    ASSERT_TRUE(t.Add("[:SENSe]:WINDow:DETector#:FUNCtion?", kNothing));
    ASSERT_TRUE(t.Add(":HCOPy:CMAP#:DEFault#", kNothing));
    EXPECT_EQ(Match(t, "SENSE:WINDOW:DETECTOR3:FUNCTION?"), std::vector<int>{3});
    EXPECT_EQ(Match(t, "WIND:DET:FUNC?"), std::vector<int>{1});
    EXPECT_EQ(Match(t, ":HCOPY:CMAP:DEFAULT2"), (std::vector<int>{1, 2}));
    EXPECT_EQ(Match(t, ":HCOP:CMAP12:DEF4"), (std::vector<int>{12, 4}));
    EXPECT_FALSE(Match(t, ":SENS:SENS:WIND:DET:FUNC?"));
}

TEST(CommandTable, MalformedPatternsAreRefused) {
    CommandTable t;
    for (const char* pattern : {"", ":A:[B", ":lower"})
        EXPECT_FALSE(t.Add(pattern, kNothing)) << pattern;
    EXPECT_FALSE(t.Add(":OK", nullptr));
    EXPECT_EQ(t.Size(), 0u);
}

TEST(ProgramMessage, SplitsUnitsAndParametersOutsideQuotes) {
    const auto units = SplitProgramMessage(":MMEM:NAME 'a;b,c' ; *WAI;;:HCOP:DEV:LANG  PNG ;");
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].header, ":MMEM:NAME");
    EXPECT_EQ(units[0].argumentText, "'a;b,c'");
    EXPECT_EQ(units[1].header, "*WAI");
    EXPECT_EQ(units[2].argumentText, "PNG");
    EXPECT_EQ(SplitParameters(" PNG,  SCREEN ,COLOR"),
              (std::vector<std::string>{"PNG", "SCREEN", "COLOR"}));
    EXPECT_EQ(SplitParameters("'x,y', \"p,q\""), (std::vector<std::string>{"'x,y'", "\"p,q\""}));
    EXPECT_TRUE(SplitParameters("   ").empty());
}

class GenericInstrument : public ::testing::Test {
protected:
    std::unique_ptr<SimInstrument> sim = CreateInstrument("generic", {"ACME,X1,1,1.0", {}});
    std::string Run(const std::string& message) { return sim->Execute(message).bytes; }
};

TEST_F(GenericInstrument, UnknownHeadersGiveNoReplyAndQueueErrorsInOrder) {
    EXPECT_EQ(Run(":BOGUS?"), "");
    EXPECT_EQ(Run("*IDN?;:NOPE;*OPC?"), "ACME,X1,1,1.0;1\n");
    EXPECT_EQ(Run("*STB?"), "4\n");
    EXPECT_EQ(Run("*ESR?"), "32\n");
    EXPECT_EQ(Run("*ESR?"), "0\n");
    EXPECT_EQ(Run(":SYSTem:ERRor:NEXT?"), "-113,\"Undefined header\"\n");
    EXPECT_EQ(Run("syst:err?"), "-113,\"Undefined header\"\n");
    EXPECT_EQ(Run("syst:err?"), "+0,\"No error\"\n");
    Run(":NOPE");
    Run("*CLS");
    EXPECT_EQ(Run("syst:err?"), "+0,\"No error\"\n");
}

TEST_F(GenericInstrument, ErrorQueueIsBoundedAndReportsOverflowLast) {
    for (int i = 0; i < 100; ++i)
        Run(":NOPE");
    EXPECT_EQ(sim->PendingErrors(), SimInstrument::kMaxErrors);
    for (std::size_t i = 0; i + 1 < SimInstrument::kMaxErrors; ++i)
        ASSERT_EQ(Run("SYST:ERR?"), "-113,\"Undefined header\"\n");
    EXPECT_EQ(Run("SYST:ERR?"), "-350,\"Queue overflow\"\n");
}

// The block's framing and bytes are what every transfer test compares with
// TestBlockByte, and faults_test cuts it at its data offset.
TEST_F(GenericInstrument, TestBlockOfNothingAndBadLengths) {
    EXPECT_EQ(Run(":TEST:BLOCK? 0"), "#10\n");
    for (const char* bad : {":TEST:BLOCK? 8000001", ":TEST:BLOCK? -1", ":TEST:BLOCK? x",
                            ":TEST:BLOCK?", ":TEST:BLOCK? 1,2"}) {
        EXPECT_EQ(Run(bad), "") << bad;
        EXPECT_EQ(Run("SYST:ERR?"), "-222,\"Data out of range\"\n") << bad;
    }
}

TEST(SimInstrument, HeadersAfterASemicolonContinueThePreviousPath) {
    auto sim = CreateInstrument("fsv", {});
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->Execute(":HCOP:DEV:LANG PNG;COL OFF").bytes, "");
    EXPECT_EQ(sim->Execute(":HCOP:DEV:LANG?;COL?").bytes, "PNG;0\n");
    // A common command in between resets the path to the root.
    EXPECT_EQ(sim->Execute(":HCOP:DEV:COL ON;*OPC;:HCOP:DEV:COL?").bytes, "1\n");
    EXPECT_EQ(sim->PendingErrors(), 0u);
}

TEST(FamilyRegistry, EveryFamilyIsCreatedWithItsDefaultIdentification) {
    for (const FamilyInfo& f : Families()) {
        auto sim = CreateInstrument(f.name, {});
        ASSERT_TRUE(sim) << f.name;
        EXPECT_EQ(sim->Execute("*IDN?").bytes, std::string(f.defaultIdn) + "\n");
        auto other = CreateInstrument(f.name, {"MAKER,MODEL,1,2", {}});
        EXPECT_EQ(other->Execute("*IDN?").bytes, "MAKER,MODEL,1,2\n");
        // The habit table's defaults are values the habit takes.
        for (const HabitInfo& habit : f.habits) {
            std::string why;
            EXPECT_TRUE(CheckHabitValue(habit, habit.defaultValue, why)) << f.name << ": " << why;
        }
    }
    EXPECT_FALSE(CreateInstrument("nonesuch", {}));
}

} // namespace
} // namespace quarvel::sim
