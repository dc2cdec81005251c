#include "instr/driver_table.h"

#include "instr/instr_keys_infiniium.h"
#include "instr/instr_keys_infiniivision.h"
#include "instr/instr_rigol_ds.h"
#include "instr/instr_rs_fsv.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"
#include "instr/quirk_table.h"

#include <algorithm>
#include <array>

namespace {

// Takes the next comma-separated field off `rest`: leading commas are
// skipped, so empty fields never come back; an exhausted text gives "".
std::string_view NextField(std::string_view& rest) {
    const auto start = rest.find_first_not_of(',');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const auto end = rest.find(',');
    const std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return field;
}

bool HasAnyPrefix(std::string_view model, std::initializer_list<std::string_view> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view p) { return model.starts_with(p); });
}

bool EndsWithZ(std::string_view model) {
    return model.ends_with('Z');
}

using quarvel::instr::Family;
using quarvel::instr::HabitsOf;

bool IsInfiniiVision(std::string_view model) {
    return HasAnyPrefix(model, {"MSO7", "DSO7", "MSO6", "DSO6", "MSO5", "DSO5"});
}
bool IsInfiniiVisionX(std::string_view model) {
    return HasAnyPrefix(model, {"DSO-X", "MSO-X"});
}
bool IsInfiniium(std::string_view model) {
    return HasAnyPrefix(model,
                        {"DSO9", "DSA9", "DSOS", "MSOS", "DSOV", "DSAV", "MSOV", "DSOZ", "DSAZ"});
}
bool IsFsv(std::string_view model) {
    return model.starts_with("FSV-");
}
bool IsSds(std::string_view model) {
    return model.starts_with("SDS");
}
bool IsTds(std::string_view model) {
    return model.starts_with("TDS");
}
// DS1000Z and MSO1000Z end in Z (the older DS1000E/D answer other commands);
// every DS2000 and DS6000 model qualifies. The series is told by the model's
// first word: "DS1054Z Plus" is a DS1054Z with its options unlocked.
bool IsRigolDs(std::string_view model) {
    model = model.substr(0, model.find(' '));
    return (model.starts_with("DS1") && EndsWithZ(model)) ||
           (model.starts_with("MSO1") && EndsWithZ(model)) || model.starts_with("DS2") ||
           model.starts_with("DS6");
}

template <class Driver> std::unique_ptr<CInstrLL> Make() {
    return std::make_unique<Driver>();
}

// The manufacturer texts each family's firmware sends come from the quirk
// table (both company names of Keysight, the older "SIGLENT").
const DriverTableRow DRIVER_TABLE[] = {
    {HabitsOf(Family::KeysightInfiniiVision).makers, IsInfiniiVision, Make<CInstrKeysInfiniiVision>,
     true},
    {HabitsOf(Family::KeysightInfiniiVision).makers, IsInfiniiVisionX,
     Make<CInstrKeysInfiniiVisionX>, true},
    {HabitsOf(Family::KeysightInfiniium).makers, IsInfiniium, Make<CInstrKeysInfiniium>, true},
    {HabitsOf(Family::RohdeSchwarzFsv).makers, IsFsv, Make<CInstrRSFSV>, false},
    {HabitsOf(Family::SiglentSds).makers, IsSds, Make<CInstrSiglSDS>, false},
    {HabitsOf(Family::TektronixTds).makers, IsTds, Make<CInstrTekTDS>, false},
    {HabitsOf(Family::RigolDs).makers, IsRigolDs, Make<CInstrRigolDS>, true},
};

} // namespace

IdnFields SplitIdn(std::string_view idn) {
    IdnFields fields;
    std::string_view rest = idn;
    const std::string_view manufacturer = NextField(rest);
    if (manufacturer.empty())
        return fields;
    fields.manufacturer = manufacturer;
    fields.model = NextField(rest);
    return fields;
}

std::span<const DriverTableRow> DriverTable() {
    return DRIVER_TABLE;
}

const DriverTableRow* FindDriverRow(std::string_view manufacturer, std::string_view model) {
    for (const DriverTableRow& row : DRIVER_TABLE) {
        const bool makerMatches = std::find(row.manufacturers.begin(), row.manufacturers.end(),
                                            manufacturer) != row.manufacturers.end();
        if (makerMatches && row.modelMatches(model))
            return &row;
    }
    return nullptr;
}
