#pragma once

// The search expressions of viFindRsrc: a VISA regular expression over the
// whole resource name, optionally followed by an attribute expression in
// braces, e.g. "TCPIP[0-9]*::?*::INSTR{VI_ATTR_TCPIP_DEVICE_NAME == \"inst0\"}".
//
//   ?        any one character          \c     the character c itself
//   [list]   one character of the list  [^list] one character not in it
//            (ranges a-z allowed)
//   *        0 or more of the preceding character or group
//   +        1 or more of the preceding character or group
//   a|b      either expression (lowest precedence: VXI|GPIB is (VXI)|(GPIB))
//   (exp)    grouping
// Letters match regardless of case, as resource names do.
//
// Attribute expressions compare attributes with numbers (decimal or 0x hex)
// or quoted strings: == != for every attribute, < > <= >= for numbers only,
// joined by && and || and negated by !, with parentheses. Only attributes a
// resource name determines are known (interface type and number, class,
// name, TCPIP address, host name, port and device name); any other name is
// an invalid expression.
//
// The regular expression runs as a state machine over the name, so no
// expression can take more than (pattern length × name length) steps.

#include "visa/visa.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quarvel::visa {

// An attribute's value: a number or a string.
using AttributeValue = std::variant<long long, std::string>;
// Gives a resource's attribute; false when the resource has no such attribute.
using AttributeLookup = std::function<bool(ViAttr attribute, AttributeValue& value)>;

class ResourcePattern {
public:
    ResourcePattern();
    ~ResourcePattern();
    ResourcePattern(ResourcePattern&&) noexcept;
    ResourcePattern& operator=(ResourcePattern&&) noexcept;

    // VI_SUCCESS, or VI_ERROR_INV_EXPR for a malformed expression.
    static ViStatus Compile(std::string_view expression, ResourcePattern& pattern);

    bool MatchesName(std::string_view name) const;
    // The name and, when the expression has one, the attribute expression.
    bool Matches(std::string_view name, const AttributeLookup& lookup) const;

private:
    struct Program;
    std::unique_ptr<Program> m_program;
};

// The attributes a resource name determines: interface type and number,
// class, name, and for TCPIP resources address, host name, port (SOCKET) and
// device name (INSTR). Names that do not parse have none.
AttributeLookup AttributesOfName(const std::string& resourceName);

} // namespace quarvel::visa
