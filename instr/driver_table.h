#pragma once

#include "instr/instr_ll.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>

// The manufacturer and model fields of an "*IDN?" reply.
struct IdnFields {
    std::string manufacturer;
    std::string model;
};

// Splits an identification reply at commas: runs of commas and commas at the
// start count as one separator, fields are not trimmed (a space after a comma
// stays in the next field), and the first empty field ends the split. A reply
// without a comma is all manufacturer.
IdnFields SplitIdn(std::string_view idn);

// One instrument family: the manufacturer texts it answers to (exact, case
// included), the test of the model field, and how its driver is made.
struct DriverTableRow {
    std::span<const std::string_view> manufacturers;
    bool (*modelMatches)(std::string_view model);
    std::unique_ptr<CInstrLL> (*create)();
    // Whether the driver is given the model text.
    bool receivesModel;
};

// All families, in the order they are tried.
std::span<const DriverTableRow> DriverTable();

// The first row whose manufacturer and model test match, or nullptr.
const DriverTableRow* FindDriverRow(std::string_view manufacturer, std::string_view model);
