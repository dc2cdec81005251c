#include "sim/family_registry.h"

#include "sim/family_fsv.h"
#include "sim/family_generic.h"
#include "sim/family_infiniium.h"
#include "sim/family_infiniivision.h"
#include "sim/family_rigol.h"
#include "sim/family_siglent.h"
#include "sim/family_tektronix.h"

#include <array>

namespace quarvel::sim {
namespace {

// USB IDs: pid.codes' test ID for the generic instrument; the vendor IDs are
// the makers' own, the product IDs those publicly listed for the model
// (DS1054Z, SDS1104X-E, DSO-X 3034A) or one in the maker's range. The
// SDS1x04X-E leaves reads of more than 48 bytes a request unanswered on some
// firmware.
constexpr std::array kFamilies = {
    FamilyInfo{"generic", "QUARVEL,SIM-1,0,1.0", CreateGeneric, 0x1209, 0x0001},
    FamilyInfo{"infiniivision", "AGILENT TECHNOLOGIES,MSO7104B,MY00000001,07.50.0000",
               CreateInfiniiVision, 0x0957, 0x175D},
    FamilyInfo{"infiniivision-x", "KEYSIGHT TECHNOLOGIES,DSO-X 3034A,MY12345678,02.41.2015102200",
               CreateInfiniiVisionX, 0x0957, 0x17A0},
    FamilyInfo{"infiniium", "KEYSIGHT TECHNOLOGIES,DSOS254A,MY00000002,06.10.00000",
               CreateInfiniium, 0x2A8D, 0x9027},
    FamilyInfo{"fsv", "Rohde&Schwarz,FSV-7,1307.9002K07/101234,2.30 SP1", CreateFsv, 0x0AAD,
               0x00CF},
    FamilyInfo{"rigol", "RIGOL TECHNOLOGIES,DS1054Z,DS1ZA000000001,00.04.04.SP3", CreateRigol,
               0x1AB1, 0x04CE},
    FamilyInfo{"siglent", "Siglent Technologies,SDS1104X-E,SDSMMEBQ000000,8.2.6.1.37R9",
               CreateSiglent, 0xF4EC, 0xEE38, 48},
    FamilyInfo{"tektronix", "TEKTRONIX,TDS 3034B,0,CF:91.1CT FV:v3.35 TDS3FFT:v1.00",
               CreateTektronix, 0x0699, 0x0411},
};

} // namespace

std::span<const FamilyInfo> Families() {
    return kFamilies;
}

const FamilyInfo* FindFamily(std::string_view name) {
    for (const FamilyInfo& info : kFamilies)
        if (info.name == name)
            return &info;
    return nullptr;
}

std::unique_ptr<SimInstrument> CreateInstrument(std::string_view family, InstrumentSetup setup) {
    for (const FamilyInfo& info : kFamilies) {
        if (info.name != family)
            continue;
        if (setup.idn.empty())
            setup.idn = std::string(info.defaultIdn);
        return info.create(setup);
    }
    return nullptr;
}

} // namespace quarvel::sim
