#include "instr/driver_table.h"

#include "instr/instr_keys_infiniium.h"
#include "instr/instr_keys_infiniivision.h"
#include "instr/instr_rigol_ds.h"
#include "instr/instr_rs_fsv.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"
#include "instr/instrument_definition.h"

#include <algorithm>
#include <array>

namespace {

using quarvel::instr::Maker;

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

// Model patterns ('*' any run, '?' one character). InfiniiVision 5000-7000:
// MSO/DSO followed by the series digit.
constexpr std::array<std::string_view, 6> kInfiniiVisionModels = {"MSO7*", "DSO7*", "MSO6*",
                                                                  "DSO6*", "MSO5*", "DSO5*"};
// InfiniiVision 1000X-6000X: "DSO-X 3034A" as the 2000X/3000X guides show
// it; later firmware and the 1000X/EDU models drop the hyphen and the blank
// ("DSOX1202G", "EDUX1052G"; InfiniiVision 1000 X-Series programmer's guide,
// "*IDN?"; the DSOX1202G of lxi-tools issue 39).
constexpr std::array<std::string_view, 5> kInfiniiVisionXModels = {"DSO-X*", "MSO-X*", "DSOX*",
                                                                   "MSOX*", "EDUX*"};
constexpr std::array<std::string_view, 9> kInfiniiumModels = {
    "DSO9*", "DSA9*", "DSOS*", "MSOS*", "DSOV*", "DSAV*", "MSOV*", "DSOZ*", "DSAZ*"};
constexpr std::array<std::string_view, 1> kFsvModels = {"FSV-*"};
constexpr std::array<std::string_view, 1> kSdsModels = {"SDS*"};
constexpr std::array<std::string_view, 1> kTdsModels = {"TDS*"};
// DS1000Z and MSO1000Z end in Z (the older DS1000E/D answer other commands);
// every DS2000 and DS6000 model qualifies. The series is told by the model's
// first word: "DS1054Z Plus" is a DS1054Z with its options unlocked.
constexpr std::array<std::string_view, 6> kRigolDsModels = {"DS1*Z",    "DS1*Z *", "MSO1*Z",
                                                            "MSO1*Z *", "DS2*",    "DS6*"};

template <class Driver> std::unique_ptr<CInstrLL> Make() {
    return std::make_unique<Driver>();
}

// Rows are tried top to bottom; the families that are data (built-in
// definitions, then the files users add) come after all of them.
constexpr DriverTableRow kDriverTable[] = {
    {.name = "Keysight InfiniiVision 5000/6000/7000",
     .maker = Maker::Keysight,
     .models = kInfiniiVisionModels,
     .create = Make<CInstrKeysInfiniiVision>,
     .receivesModel = true},
    {.name = "Keysight InfiniiVision 1000X-6000X",
     .maker = Maker::Keysight,
     .models = kInfiniiVisionXModels,
     .create = Make<CInstrKeysInfiniiVisionX>,
     .receivesModel = true},
    {.name = "Keysight Infiniium",
     .maker = Maker::Keysight,
     .models = kInfiniiumModels,
     .create = Make<CInstrKeysInfiniium>,
     .receivesModel = true},
    {.name = "Rohde&Schwarz FSV",
     .maker = Maker::RohdeSchwarz,
     .models = kFsvModels,
     .create = Make<CInstrRSFSV>,
     .receivesModel = false},
    {.name = "Siglent SDS (SCDP)",
     .maker = Maker::Siglent,
     .models = kSdsModels,
     .create = Make<CInstrSiglSDS>,
     .receivesModel = false},
    {.name = "Tektronix TDS",
     .maker = Maker::Tektronix,
     .models = kTdsModels,
     .create = Make<CInstrTekTDS>,
     .receivesModel = false},
    {.name = "Rigol DS1000Z/DS2000/DS6000",
     .maker = Maker::Rigol,
     .models = kRigolDsModels,
     .create = Make<CInstrRigolDS>,
     .receivesModel = true},
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
    return kDriverTable;
}

const DriverTableRow* FindDriverRow(std::string_view manufacturer, std::string_view model) {
    const Maker maker = quarvel::instr::MakerOf(manufacturer);
    if (maker == Maker::Unknown)
        return nullptr;
    for (const DriverTableRow& row : kDriverTable) {
        if (row.maker != maker)
            continue;
        if (std::any_of(row.models.begin(), row.models.end(), [&](std::string_view pattern) {
                return quarvel::instr::ModelMatchesPattern(pattern, model);
            }))
            return &row;
    }
    return nullptr;
}
