#include "instr/quirk_table.h"

#include "visa/ascii.h"

#include <array>
#include <cstddef>

namespace quarvel::instr {
namespace {

// How makers name themselves in "*IDN?" replies. Compared without regard to
// case, so a firmware that changes the case of its name keeps its family.
constexpr std::array<MakerSpelling, 9> kMakerSpellings = {{
    // The company has traded under both names; replies of the same instrument
    // families carry either, depending on the firmware date (Keysight
    // InfiniiVision and Infiniium programmer's guides, "*IDN?"); the X-series
    // signal analysers answer "Keysight Technologies" (N9020B programmer's
    // guide, "*IDN?"; unverified on hardware).
    {"KEYSIGHT TECHNOLOGIES", Maker::Keysight},
    {"Keysight Technologies", Maker::Keysight},
    {"AGILENT TECHNOLOGIES", Maker::Keysight},
    {"RIGOL TECHNOLOGIES", Maker::Rigol},
    // Current SDS firmware answers "Siglent Technologies"; older firmware,
    // with its power-on COMM_HEADER SHORT, answers "*IDN SIGLENT,SDS2304X,
    // ...,1.2.2.2 R19" (published lxi-tools and python-vxi11 transcripts of
    // an SDS2304X, Tom Verbeure's Siglent SDS2304X notes).
    {"Siglent Technologies", Maker::Siglent},
    {"SIGLENT", Maker::Siglent},
    {"TEKTRONIX", Maker::Tektronix},
    // The FSV and RTB/RTM manuals show "Rohde&Schwarz"; MXO and FSW
    // transcripts in other tools' reports show both spellings.
    {"Rohde&Schwarz", Maker::RohdeSchwarz},
    {"ROHDE&SCHWARZ", Maker::RohdeSchwarz},
}};

constexpr std::array<std::string_view, 6> kMakerNames = {
    "unknown", "Keysight", "Rohde&Schwarz", "Siglent", "Tektronix", "Rigol",
};

// Siglent SDS programming guide, COMM_HEADER: replies start with the short
// (SHORT, the power-on default) or long (LONG) form of the header word, and
// the long forms are names of their own ("TRMD?" → "TRIG_MODE AUTO").
constexpr std::array<HeaderAlias, 2> kSiglentHeaderAliases = {
    HeaderAlias{"TRMD", "TRIG_MODE"},
    HeaderAlias{"CHDR", "COMM_HEADER"},
};

constexpr std::array<FamilyHabits, 15> kQuirkTable = {{
    // Keysight programmer's guides: ":SYSTem:HEADer ON" makes replies carry
    // their header; handled for every family by the echoed-header rule.
    {Family::KeysightInfiniiVision, {}, false},
    {Family::KeysightInfiniium, {}, false},
    {Family::RohdeSchwarzFsv, {}, false},
    // SCDP sends the BMP file without a block header on SDS1000X-E,
    // SDS2000X Plus and SDS800X HD, sometimes with one terminator byte after
    // it (EEZ Studio issue 94, "Screendump in BMP format from Siglent
    // SDS1xxxX-E scope not recognized"; SCPI-Instrument-Control pull request
    // 74 for the SDS824X HD: "read the raw BMP sized by its own header, then
    // drain a trailing terminator byte").
    {Family::SiglentSds, kSiglentHeaderAliases, true},
    // TDS programmer manuals, "Headers in Query Responses": with HEADer ON
    // (the power-on default) a reply is a valid set command,
    // ":ACQUIRE:STATE 1"; handled by the echoed-header rule.
    {Family::TektronixTds, {}, false},
    // DS1000Z firmware differs in what follows the ":DISPlay:DATA?" block:
    // 00 00 0A (00.04.03 SP1), 0A, or nothing (DS1054Z_screen_capture issue 6,
    // pklaus/ds1054z issue 4). The VISA layer takes NULs, CRs and one line
    // feed after a block as its tail and never waits for one over a raw
    // socket, so the driver needs no knowledge of its own.
    {Family::RigolDs, {}, false},
    // The families below are built-in definitions (instr/definitions/*.toml),
    // where each command carries its source; their habits are:
    // MSO5000/7000/8000 ":DISPlay:DATA?" answers a 1024 x 600 BMP block
    // ("#9001843254") even when PNG is asked, one byte after it (lxi-tools
    // issue 63 and pull request 64 for the MSO5000, issue 102 and pull request
    // 103 for the MSO8204 and DS/MSO7000). Read as a block with its tail.
    // Waveform data (instr/waveform_rigol_mso.cpp): :WAV:MODE/:WAV:FORM sent
    // again before each read (scopehal-apps issue 146); a data query too soon
    // after a trigger brings no data, so *OPC? comes first (scopehal issue
    // 358, pull requests 359 and 696).
    {Family::RigolMso5000, {}, false},
    // DHO800/900/1000/4000: ":DISPlay:DATA? PNG" as a "#9" block (DHO800/900
    // programming guide; Mitch Richling's screenshot_dho4k.rb). Waveform data
    // (instr/waveform_rigol_dho.cpp): the preamble counts the page, so the
    // record length is :ACQ:MDEP?; an x increment of 0 leaves that channel
    // out; :WAV:XREF? always 0 on the DHO1000/4000 (scopehal
    // RigolOscilloscope.cpp and pull request 882).
    {Family::RigolDho, {}, false},
    // SDS HD / X Plus: ":PRINt? PNG" answers the PNG without a block header
    // and one byte after its end (Siglent programming guide EN11D, PRINt;
    // screenshot_sig2k.rb); framed by the PNG's own chunks.
    {Family::SiglentSdsHd, kSiglentHeaderAliases, true},
    // MSO 2/4/5/6: the image is a file on the instrument, read back raw with
    // FILESystem:READFile (no block header, no length) and deleted
    // (Tektronix example 5_Series_MSO_HardCopy.py; 4/5/6 Series programmer
    // manual, SAVe:IMAGe and FILESystem:READFile).
    {Family::TektronixMso, {}, false},
    // MDO3000/4000, MSO/DPO2000-4000: "HARDCopy STARt" streams the raw PNG to
    // the end of the message (MDO3000/4000 programmer manual, HARDCopy).
    {Family::TektronixMdo, {}, false},
    // TBS1000/2000: "HARDCopy STARt" streams a bare BMP whose length only its
    // own header gives; printing takes seconds before the first byte (TBS1000
    // programmer manual, HARDCopy; unverified on hardware).
    {Family::TektronixTbs, {}, false},
    // RTB/RTM/RTA/MXO: "HCOPy:DATA?" is a definite block; remote control
    // freezes the display unless SYSTem:DISPlay:UPDate ON (RTB2000 user
    // manual, HCOPy:DATA? and SYSTem:DISPlay:UPDate).
    {Family::RohdeSchwarzRtb, {}, false},
    // FSW/FPL/FSVA: hardcopy into a file on the analyser, read back with
    // MMEMory:DATA? as a block (FSW user manual, HCOPy and MMEMory).
    {Family::RohdeSchwarzFsw, {}, false},
    // X-series signal analysers: :MMEMory:STORe:SCReen into a file, read back
    // with :MMEMory:DATA? as a block, then :MMEMory:DELete (X-Series
    // programmer's guide; unverified on hardware).
    {Family::KeysightXSeriesAnalyser, {}, false},
}};

// HabitsOf indexes the table by the enumeration: every row must sit at its
// family's place.
constexpr bool RowsFollowTheEnumeration() {
    for (std::size_t i = 0; i < kQuirkTable.size(); ++i)
        if (static_cast<std::size_t>(kQuirkTable[i].family) != i)
            return false;
    return kQuirkTable.size() == static_cast<std::size_t>(Family::KeysightXSeriesAnalyser) + 1;
}
static_assert(RowsFollowTheEnumeration(), "quirk table rows out of the Family order");
static_assert(kMakerNames.size() == static_cast<std::size_t>(Maker::Rigol) + 1);

} // namespace

std::span<const MakerSpelling> MakerSpellings() {
    return kMakerSpellings;
}

Maker MakerOf(std::string_view manufacturer) {
    for (const MakerSpelling& spelling : kMakerSpellings)
        if (quarvel::ascii::EqualsIgnoringCase(spelling.text, manufacturer))
            return spelling.maker;
    return Maker::Unknown;
}

std::string_view MakerName(Maker maker) {
    return kMakerNames[static_cast<std::size_t>(maker)];
}

Maker MakerNamed(std::string_view name) {
    for (std::size_t i = 1; i < kMakerNames.size(); ++i)
        if (quarvel::ascii::EqualsIgnoringCase(kMakerNames[i], name))
            return static_cast<Maker>(i);
    return MakerOf(name);
}

const FamilyHabits& HabitsOf(Family family) {
    return kQuirkTable[static_cast<std::size_t>(family)];
}

std::span<const FamilyHabits> QuirkTable() {
    return kQuirkTable;
}

} // namespace quarvel::instr
