#include "visa/resource_forms.h"

#include "codec/hislip_message.h"
#include "codec/oncrpc.h"
#include "visa/ascii.h"
#include "visa/transport_registry.h"

#include <algorithm>
#include <charconv>

namespace quarvel::visa {

namespace {

// "hislip0" or "hislip0,4881" (any case): the sub-address and the port.
bool ParseHislipDevice(const std::string& field, std::string& subAddress, ViUInt16& port) {
    const std::size_t comma = field.find(',');
    subAddress = field.substr(0, comma);
    constexpr std::string_view kPrefix = "hislip";
    if (subAddress.size() <= kPrefix.size() ||
        !ascii::EqualsIgnoringCase(std::string_view(subAddress).substr(0, kPrefix.size()),
                                   kPrefix) ||
        !std::all_of(subAddress.begin() + kPrefix.size(), subAddress.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    port = hislip::kDefaultPort;
    if (comma == std::string::npos)
        return true;
    const std::string portText = field.substr(comma + 1);
    unsigned value = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (ec != std::errc() || end != portText.data() + portText.size() || value == 0 ||
        value > 65535)
        return false;
    port = static_cast<ViUInt16>(value);
    return true;
}

// Hex with 0x (any case) or decimal, at most 0xFFFF.
bool ParseUsbId(const std::string& text, ViUInt16& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    unsigned v = 0;
    const auto [stop, ec] = std::from_chars(begin, end, v, hex ? 16 : 10);
    if (ec != std::errc() || stop != end || v > 0xFFFF)
        return false;
    value = static_cast<ViUInt16>(v);
    return true;
}

bool InterpretVxi11Fields(ResourceName& name) {
    if (name.fields.empty() || name.fields.size() > 2)
        return false;
    if (name.fields.size() == 1)
        name.fields.push_back("inst0");
    name.host = name.fields[0];
    name.device = name.fields[1];
    return name.device.size() <= rpc::kVxi11MaxDeviceName && !IsHislipDeviceName(name.device);
}

bool InterpretHislipFields(ResourceName& name) {
    if (name.fields.size() != 2)
        return false;
    name.host = name.fields[0];
    return ParseHislipDevice(name.fields[1], name.device, name.port);
}

bool InterpretSocketFields(ResourceName& name) {
    if (name.fields.size() != 2)
        return false;
    const std::string& portText = name.fields[1];
    unsigned port = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (ec != std::errc() || end != portText.data() + portText.size() || port == 0 || port > 65535)
        return false;
    name.host = name.fields[0];
    name.port = static_cast<ViUInt16>(port);
    return true;
}

bool InterpretUsbFields(ResourceName& name) {
    if (name.fields.size() < 3 || name.fields.size() > 4)
        return false;
    if (!ParseUsbId(name.fields[0], name.manufacturerId) ||
        !ParseUsbId(name.fields[1], name.modelCode))
        return false;
    name.serialNumber = name.fields[2];
    name.interfaceNumber = -1;
    if (name.fields.size() == 4) {
        const std::string& text = name.fields[3];
        unsigned n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || n > 255)
            return false;
        name.interfaceNumber = static_cast<int>(n);
    }
    return true;
}

} // namespace

const ResourceForm kVxi11Form = {"TCPIP", VI_INTF_TCPIP, "INSTR", true, 1, 2, InterpretVxi11Fields};
const ResourceForm kHislipForm = {"TCPIP", VI_INTF_TCPIP,        "INSTR", true, 2,
                                  2,       InterpretHislipFields};
const ResourceForm kSocketForm = {"TCPIP", VI_INTF_TCPIP,        "SOCKET", false, 2,
                                  2,       InterpretSocketFields};
const ResourceForm kUsbForm = {"USB", VI_INTF_USB, "INSTR", true, 3, 4, InterpretUsbFields};

std::vector<const ResourceForm*> BuiltinResourceForms() {
    return {&kVxi11Form, &kHislipForm, &kSocketForm, &kUsbForm};
}

std::vector<const ResourceForm*> KnownResourceForms() {
    std::vector<const ResourceForm*> forms = BuiltinResourceForms();
    for (const TransportRow& row : RegisteredTransports())
        forms.push_back(row.form);
    return forms;
}

ViStatus ParseKnownResourceName(std::string_view text, ResourceName& name,
                                const ResourceForm** form) {
    return ParseResourceNameByForms(text, KnownResourceForms(), name, form);
}

bool IsHislipDeviceName(std::string_view device) {
    return device.size() >= 6 && ascii::EqualsIgnoringCase(device.substr(0, 6), "hislip");
}

} // namespace quarvel::visa
