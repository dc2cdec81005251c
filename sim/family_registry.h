#pragma once

// The one table of simulated instrument families: name, default *IDN? reply
// (a real model of the family) and factory. Adding a family is one source
// pair and one row in family_registry.cpp.

#include "sim/family_support.h"
#include "sim/habits.h"
#include "sim/sim_instrument.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace quarvel::sim {

// The USB IDs of the models whose identification starts with modelPrefix
// (compared as ModelStartsWith does) and ends with modelSuffix (any case).
struct UsbModelIds {
    std::string_view modelPrefix;
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::string_view modelSuffix = {};
};

struct FamilyInfo {
    std::string_view name;
    std::string_view defaultIdn;
    std::unique_ptr<SimInstrument> (*create)(const InstrumentSetup& setup);
    // The vendor and product IDs its USB port reports.
    std::uint16_t usbVendorId;
    std::uint16_t usbProductId;
    // The largest TransferSize its USB firmware answers a
    // REQUEST_DEV_DEP_MSG_IN for (0: any).
    std::uint32_t usbMaxTransfer = 0;
    // Models with IDs of their own; the first matching row wins, the IDs
    // above serve every other model.
    std::span<const UsbModelIds> usbModels = {};
    // The habits --habit can change, with the real firmware's defaults.
    std::span<const HabitInfo> habits = {};
};

// The vendor and product IDs the family's device reports for this model.
UsbModelIds UsbIdsFor(const FamilyInfo& family, std::string_view model);

// Null when the name is unknown.
const FamilyInfo* FindFamily(std::string_view name);

std::span<const FamilyInfo> Families();

// Null when the name is unknown. An empty setup.idn takes the family's default.
std::unique_ptr<SimInstrument> CreateInstrument(std::string_view family, InstrumentSetup setup);

} // namespace quarvel::sim
