#pragma once

#include "instr/instr_ll.h"
#include "instr/quirk_table.h"

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

// One instrument family whose driver is code: its maker (any spelling of the
// maker table, case ignored), the patterns of its model field
// (ModelMatchesPattern), and how its driver is made.
struct DriverTableRow {
    std::string_view name;
    quarvel::instr::Maker maker;
    std::span<const std::string_view> models;
    std::unique_ptr<CInstrLL> (*create)();
    // Whether the driver is given the model text.
    bool receivesModel;
};

// All families with drivers of their own, in the order they are tried.
std::span<const DriverTableRow> DriverTable();

// The first row whose maker and model patterns match, or nullptr.
const DriverTableRow* FindDriverRow(std::string_view manufacturer, std::string_view model);
