#pragma once

// What the firmware of each instrument family is publicly known to do beyond
// what its drivers would otherwise expect. Every driver that meets one of
// these habits looks it up here, so the knowledge lives in one place; the
// sources are named in quirk_table.cpp.

#include <span>
#include <string_view>

namespace quarvel::instr {

// The companies whose instruments Quarvel knows, whatever they call
// themselves in an identification.
enum class Maker {
    Unknown,
    Keysight, // also its former name, Agilent
    RohdeSchwarz,
    Siglent,
    Tektronix,
    Rigol,
};

// One spelling of a maker's name as identification replies carry it.
struct MakerSpelling {
    std::string_view text;
    Maker maker;
};

// Every known spelling, in one table; compared without regard to case.
std::span<const MakerSpelling> MakerSpellings();
// The maker an identification's manufacturer field names, or Maker::Unknown.
Maker MakerOf(std::string_view manufacturer);
// The name a family list shows for a maker ("Keysight").
std::string_view MakerName(Maker maker);
// The maker a name of a definition file gives (any spelling of the table or
// the name MakerName shows), or Maker::Unknown.
Maker MakerNamed(std::string_view name);

enum class Family {
    KeysightInfiniiVision, // InfiniiVision 5000/6000/7000 and X-Series
    KeysightInfiniium,
    RohdeSchwarzFsv,
    SiglentSds,
    TektronixTds,
    RigolDs,
    // Families whose commands and framing are data (built-in definitions).
    RigolMso5000,
    RigolDho,
    SiglentSdsHd,
    TektronixMso,
    TektronixMdo,
    TektronixTbs,
    RohdeSchwarzRtb,
    RohdeSchwarzFsw,
    KeysightXSeriesAnalyser,
};

// Two spellings of one reply header that an instrument uses for the same
// query (a long form that is not an SCPI extension of the short one).
struct HeaderAlias {
    std::string_view shortForm;
    std::string_view longForm;
};

struct FamilyHabits {
    Family family;
    // Reply headers the family echoes under another name than the query's.
    std::span<const HeaderAlias> headerAliases;
    // The screen-image query may answer with the bare BMP file instead of an
    // IEEE 488.2 block.
    bool rawBmpScreenImage = false;
};

// The habits of one family (every family has a row).
const FamilyHabits& HabitsOf(Family family);

// Every row, in the order of the Family enumeration.
std::span<const FamilyHabits> QuirkTable();

} // namespace quarvel::instr
