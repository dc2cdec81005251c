#pragma once

// What the firmware of each instrument family is publicly known to do beyond
// what its drivers would otherwise expect. Every driver that meets one of
// these habits looks it up here, so the knowledge lives in one place; the
// sources are named in quirk_table.cpp.

#include <span>
#include <string_view>

namespace quarvel::instr {

enum class Family {
    KeysightInfiniiVision, // InfiniiVision 5000/6000/7000 and X-Series
    KeysightInfiniium,
    RohdeSchwarzFsv,
    SiglentSds,
    TektronixTds,
    RigolDs,
};

// Two spellings of one reply header that an instrument uses for the same
// query (a long form that is not an SCPI extension of the short one).
struct HeaderAlias {
    std::string_view shortForm;
    std::string_view longForm;
};

struct FamilyHabits {
    Family family;
    // Manufacturer fields of "*IDN?" replies that the family's firmware
    // sends, exactly as sent (case included).
    std::span<const std::string_view> makers;
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
