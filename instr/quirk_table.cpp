#include "instr/quirk_table.h"

#include <array>

namespace quarvel::instr {
namespace {

// The company has traded under both names; replies of the same instrument
// families carry either, depending on the firmware date (Keysight
// InfiniiVision and Infiniium programmer's guides, "*IDN?").
constexpr std::array<std::string_view, 2> kKeysightMakers = {"AGILENT TECHNOLOGIES",
                                                             "KEYSIGHT TECHNOLOGIES"};
constexpr std::array<std::string_view, 1> kRohdeSchwarzMakers = {"Rohde&Schwarz"};
// Current SDS firmware answers "Siglent Technologies"; older firmware, with
// its power-on COMM_HEADER SHORT, answers "*IDN SIGLENT,SDS2304X,...,1.2.2.2
// R19" (published lxi-tools and python-vxi11 transcripts of an SDS2304X,
// Tom Verbeure's Siglent SDS2304X notes).
constexpr std::array<std::string_view, 2> kSiglentMakers = {"Siglent Technologies", "SIGLENT"};
constexpr std::array<std::string_view, 1> kTektronixMakers = {"TEKTRONIX"};
constexpr std::array<std::string_view, 1> kRigolMakers = {"RIGOL TECHNOLOGIES"};

// Siglent SDS programming guide, COMM_HEADER: replies start with the short
// (SHORT, the power-on default) or long (LONG) form of the header word, and
// the long forms are names of their own ("TRMD?" → "TRIG_MODE AUTO").
constexpr std::array<HeaderAlias, 2> kSiglentHeaderAliases = {
    HeaderAlias{"TRMD", "TRIG_MODE"},
    HeaderAlias{"CHDR", "COMM_HEADER"},
};

constexpr std::array<FamilyHabits, 6> kQuirkTable = {{
    // Keysight programmer's guides: ":SYSTem:HEADer ON" makes replies carry
    // their header; handled for every family by the echoed-header rule.
    {Family::KeysightInfiniiVision, kKeysightMakers, {}, false},
    {Family::KeysightInfiniium, kKeysightMakers, {}, false},
    {Family::RohdeSchwarzFsv, kRohdeSchwarzMakers, {}, false},
    // SCDP sends the BMP file without a block header on SDS1000X-E,
    // SDS2000X Plus and SDS800X HD, sometimes with one terminator byte after
    // it (EEZ Studio issue 94, "Screendump in BMP format from Siglent
    // SDS1xxxX-E scope not recognized"; SCPI-Instrument-Control pull request
    // 74 for the SDS824X HD: "read the raw BMP sized by its own header, then
    // drain a trailing terminator byte").
    {Family::SiglentSds, kSiglentMakers, kSiglentHeaderAliases, true},
    // TDS programmer manuals, "Headers in Query Responses": with HEADer ON
    // (the power-on default) a reply is a valid set command,
    // ":ACQUIRE:STATE 1"; handled by the echoed-header rule.
    {Family::TektronixTds, kTektronixMakers, {}, false},
    // DS1000Z firmware differs in what follows the ":DISPlay:DATA?" block:
    // 00 00 0A (00.04.03 SP1), 0A, or nothing (DS1054Z_screen_capture issue 6,
    // pklaus/ds1054z issue 4). The VISA layer takes NULs, CRs and one line
    // feed after a block as its tail and never waits for one over a raw
    // socket, so the driver needs no knowledge of its own.
    {Family::RigolDs, kRigolMakers, {}, false},
}};

} // namespace

const FamilyHabits& HabitsOf(Family family) {
    return kQuirkTable[static_cast<std::size_t>(family)];
}

std::span<const FamilyHabits> QuirkTable() {
    return kQuirkTable;
}

} // namespace quarvel::instr
