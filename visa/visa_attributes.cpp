// viGetAttribute and viSetAttribute for resource managers and instrument
// sessions, from one table (kAttributes): each attribute's id, which sessions
// have it, its getter and its setter (none: read-only). Each attribute is read
// in the type the standard gives it (visa.h); string attributes are copied
// into the caller's ViChar[256].

#include "visa/visa.h"

#include "visa/backend.h"

#include "quarvel/version.h"
#include "visa/session_table.h"
#include "visa/usbip_client.h"

#include <cstdint>
#include <string>
#include <vector>

using quarvel::visa::CopyOut;
using quarvel::visa::Instrument;
using quarvel::visa::SessionSettings;
using quarvel::visa::Table;
using quarvel::visa::WithInstrument;

namespace {

constexpr char kManufacturer[] = "Quarvel";
// ViVersion: major in the top 12 bits, minor in the next 8, sub-minor in the
// low 12.
constexpr ViVersion kImplementationVersion =
    (quarvel::kVersionMajor << 20) | ((quarvel::kVersionMinor & 0xFFu) << 8);

template <typename T> ViStatus Put(void* out, T value) {
    *static_cast<T*>(out) = value;
    return VI_SUCCESS;
}

ViStatus PutText(void* out, const std::string& text) {
    CopyOut(text, static_cast<ViChar*>(out));
    return VI_SUCCESS;
}

// A ViBoolean attribute's new value; false for anything but VI_TRUE/VI_FALSE.
bool AsBoolean(ViAttrState value, bool& flag) {
    if (value != VI_TRUE && value != VI_FALSE)
        return false;
    flag = value == VI_TRUE;
    return true;
}

const char* AsText(ViAttrState value) {
    return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(value));
}

// What an attribute's accessors work on: the settings of the session, and the
// instrument session itself (null for a resource manager).
struct Target {
    SessionSettings& settings;
    Instrument* instrument;
};

// Which sessions have an attribute: every one (resource managers too), or
// instrument sessions only.
enum class Scope { Every, Instrument };

// One attribute: its id, who has it, how it is read (in the type visa.h
// gives it) and set; a null setter makes it read-only.
struct AttributeRow {
    ViAttr id;
    Scope scope;
    ViStatus (*get)(const Target& target, void* out);
    ViStatus (*set)(Target& target, ViAttrState value);
};

bool IsTcpip(const Target& t) {
    return t.instrument->interfaceCode == VI_INTF_TCPIP;
}

bool IsSocket(const Target& t) {
    return t.instrument->name.resourceClass == "SOCKET";
}

ViStatus TcpipText(const Target& t, void* out, const std::string& text) {
    return IsTcpip(t) ? PutText(out, text) : VI_ERROR_NSUP_ATTR;
}

// Read from the transport: only it knows them (the USB ones).
ViStatus FromTransport(ViAttr attribute, const Target& target, void* out) {
    return target.instrument->session.Transport().GetAttribute(attribute, out);
}

constexpr AttributeRow kAttributes[] = {
    {.id = VI_ATTR_TMO_VALUE,
     .scope = Scope::Every,
     .get = [](const Target& t, void* out) { return Put<ViUInt32>(out, t.settings.timeoutMs); },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         if (v > VI_TMO_INFINITE)
             return VI_ERROR_NSUP_ATTR_STATE;
         t.settings.timeoutMs = static_cast<ViUInt32>(v);
         return VI_SUCCESS;
     }},
    {.id = QVI_ATTR_PORTMAPPER_PORT,
     .scope = Scope::Every,
     .get = [](const Target& t,
               void* out) { return Put<ViUInt16>(out, t.settings.portmapperPort); },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         if (v == 0 || v > 0xFFFF)
             return VI_ERROR_NSUP_ATTR_STATE;
         t.settings.portmapperPort = static_cast<ViUInt16>(v);
         return VI_SUCCESS;
     }},
    {.id = QVI_ATTR_USBIP_SERVERS,
     .scope = Scope::Every,
     .get = [](const Target& t, void* out) { return PutText(out, t.settings.usbipServers); },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         std::vector<quarvel::visa::usbip::ServerAddress> servers;
         if (AsText(v) == nullptr || !quarvel::visa::usbip::ParseServerList(AsText(v), servers))
             return VI_ERROR_NSUP_ATTR_STATE;
         t.settings.usbipServers = AsText(v);
         return VI_SUCCESS;
     }},
    {.id = QVI_ATTR_DISCOVERY_METHODS,
     .scope = Scope::Every,
     .get =
         [](const Target& t, void* out) {
             return PutText(out, quarvel::visa::DiscoveryMethodNames(t.settings.discoveryMethods));
         },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         const char* text = AsText(v);
         unsigned methods = 0;
         if (text == nullptr ||
             (*text != '\0' && !quarvel::visa::ParseDiscoveryMethods(text, methods)))
             return VI_ERROR_NSUP_ATTR_STATE;
         t.settings.discoveryMethods = methods;
         return VI_SUCCESS;
     }},
    {.id = QVI_ATTR_PROBE_HOSTS,
     .scope = Scope::Every,
     .get = [](const Target& t, void* out) { return PutText(out, t.settings.probeHosts); },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         const char* text = AsText(v);
         std::vector<std::uint32_t> hosts;
         std::vector<std::string> names; // resolved when a search runs
         if (text == nullptr ||
             (*text != '\0' && !quarvel::visa::ParseProbeHosts(text, hosts, &names)))
             return VI_ERROR_NSUP_ATTR_STATE;
         t.settings.probeHosts = text;
         return VI_SUCCESS;
     }},
    {.id = QVI_ATTR_DISCOVERY_TMO,
     .scope = Scope::Every,
     .get = [](const Target& t, void* out) { return Put<ViUInt32>(out, t.settings.discoveryMs); },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         if (v == 0 || v > 3600000u)
             return VI_ERROR_NSUP_ATTR_STATE;
         t.settings.discoveryMs = static_cast<ViUInt32>(v);
         return VI_SUCCESS;
     }},
    {.id = VI_ATTR_RSRC_MANF_NAME,
     .scope = Scope::Every,
     .get = [](const Target&, void* out) { return PutText(out, kManufacturer); },
     .set = nullptr},
    {.id = VI_ATTR_RSRC_SPEC_VERSION,
     .scope = Scope::Every,
     .get = [](const Target&, void* out) { return Put<ViVersion>(out, VI_SPEC_VERSION); },
     .set = nullptr},
    {.id = VI_ATTR_RSRC_IMPL_VERSION,
     .scope = Scope::Every,
     .get = [](const Target&, void* out) { return Put<ViVersion>(out, kImplementationVersion); },
     .set = nullptr},
    // A resource manager holds no lock.
    {.id = VI_ATTR_RSRC_LOCK_STATE,
     .scope = Scope::Every,
     .get =
         [](const Target& t, void* out) {
             const bool locked = t.instrument != nullptr && t.instrument->lockCount > 0;
             return Put<ViAccessMode>(out, locked ? VI_EXCLUSIVE_LOCK : VI_NO_LOCK);
         },
     .set = nullptr},
    {.id = VI_ATTR_RSRC_NAME,
     .scope = Scope::Instrument,
     .get =
         [](const Target& t, void* out) {
             return PutText(out, quarvel::visa::CanonicalResourceName(t.instrument->name));
         },
     .set = nullptr},
    {.id = VI_ATTR_RSRC_CLASS,
     .scope = Scope::Instrument,
     .get = [](const Target& t,
               void* out) { return PutText(out, t.instrument->name.resourceClass); },
     .set = nullptr},
    {.id = VI_ATTR_INTF_TYPE,
     .scope = Scope::Instrument,
     .get = [](const Target& t,
               void* out) { return Put<ViUInt16>(out, t.instrument->interfaceCode); },
     .set = nullptr},
    {.id = VI_ATTR_INTF_NUM,
     .scope = Scope::Instrument,
     .get =
         [](const Target& t, void* out) {
             return Put<ViUInt16>(out, static_cast<ViUInt16>(t.instrument->name.board));
         },
     .set = nullptr},
    {.id = VI_ATTR_TERMCHAR,
     .scope = Scope::Instrument,
     .get = [](const Target& t, void* out) { return Put<ViUInt8>(out, t.settings.termChar); },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         if (v > 0xFF)
             return VI_ERROR_NSUP_ATTR_STATE;
         t.settings.termChar = static_cast<std::uint8_t>(v);
         return VI_SUCCESS;
     }},
    {.id = VI_ATTR_TERMCHAR_EN,
     .scope = Scope::Instrument,
     .get =
         [](const Target& t, void* out) {
             return Put<ViBoolean>(out, t.settings.termCharEnabled ? VI_TRUE : VI_FALSE);
         },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         return AsBoolean(v, t.settings.termCharEnabled) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
     }},
    {.id = VI_ATTR_SEND_END_EN,
     .scope = Scope::Instrument,
     .get =
         [](const Target& t, void* out) {
             return Put<ViBoolean>(out, t.instrument->sendEnd ? VI_TRUE : VI_FALSE);
         },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         return AsBoolean(v, t.instrument->sendEnd) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
     }},
    {.id = VI_ATTR_SUPPRESS_END_EN,
     .scope = Scope::Instrument,
     .get =
         [](const Target& t, void* out) {
             return Put<ViBoolean>(out, t.settings.suppressEnd ? VI_TRUE : VI_FALSE);
         },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         return AsBoolean(v, t.settings.suppressEnd) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
     }},
    {.id = VI_ATTR_IO_PROT,
     .scope = Scope::Instrument,
     .get = [](const Target& t, void* out) { return Put<ViUInt16>(out, t.instrument->ioProtocol); },
     .set = [](Target& t, ViAttrState v) -> ViStatus {
         if (v != VI_PROT_NORMAL && v != VI_PROT_4882_STRS)
             return VI_ERROR_NSUP_ATTR_STATE;
         t.instrument->ioProtocol = static_cast<ViUInt16>(v);
         return VI_SUCCESS;
     }},
    // The host as written in the resource name, not a resolved address.
    {.id = VI_ATTR_TCPIP_ADDR,
     .scope = Scope::Instrument,
     .get = [](const Target& t, void* out) { return TcpipText(t, out, t.instrument->name.host); },
     .set = nullptr},
    {.id = VI_ATTR_TCPIP_HOSTNAME,
     .scope = Scope::Instrument,
     .get = [](const Target& t, void* out) { return TcpipText(t, out, t.instrument->name.host); },
     .set = nullptr},
    {.id = VI_ATTR_TCPIP_PORT,
     .scope = Scope::Instrument,
     .get =
         [](const Target& t, void* out) {
             return IsTcpip(t) && IsSocket(t) ? Put<ViUInt16>(out, t.instrument->name.port)
                                              : VI_ERROR_NSUP_ATTR;
         },
     .set = nullptr},
    {.id = VI_ATTR_TCPIP_DEVICE_NAME,
     .scope = Scope::Instrument,
     .get =
         [](const Target& t, void* out) {
             return IsTcpip(t) && !IsSocket(t) ? PutText(out, t.instrument->name.device)
                                               : VI_ERROR_NSUP_ATTR;
         },
     .set = nullptr},
    {.id = VI_ATTR_MANF_ID,
     .scope = Scope::Instrument,
     .get = [](const Target& t, void* out) { return FromTransport(VI_ATTR_MANF_ID, t, out); },
     .set = nullptr},
    {.id = VI_ATTR_MODEL_CODE,
     .scope = Scope::Instrument,
     .get = [](const Target& t, void* out) { return FromTransport(VI_ATTR_MODEL_CODE, t, out); },
     .set = nullptr},
    {.id = VI_ATTR_USB_SERIAL_NUM,
     .scope = Scope::Instrument,
     .get = [](const Target& t,
               void* out) { return FromTransport(VI_ATTR_USB_SERIAL_NUM, t, out); },
     .set = nullptr},
    {.id = VI_ATTR_USB_INTFC_NUM,
     .scope = Scope::Instrument,
     .get = [](const Target& t, void* out) { return FromTransport(VI_ATTR_USB_INTFC_NUM, t, out); },
     .set = nullptr},
    {.id = VI_ATTR_USB_PROTOCOL,
     .scope = Scope::Instrument,
     .get = [](const Target& t, void* out) { return FromTransport(VI_ATTR_USB_PROTOCOL, t, out); },
     .set = nullptr},
    {.id = VI_ATTR_USB_MAX_INTR_SIZE,
     .scope = Scope::Instrument,
     .get = [](const Target& t,
               void* out) { return FromTransport(VI_ATTR_USB_MAX_INTR_SIZE, t, out); },
     .set = nullptr},
};

const AttributeRow* FindAttribute(ViAttr id) {
    for (const AttributeRow& row : kAttributes)
        if (row.id == id)
            return &row;
    return nullptr;
}

// viGetAttribute: an attribute this session has, read in its type.
ViStatus GetAttribute(const Target& target, ViAttr id, void* out) {
    const AttributeRow* row = FindAttribute(id);
    if (row == nullptr || (row->scope == Scope::Instrument && target.instrument == nullptr))
        return VI_ERROR_NSUP_ATTR;
    return row->get(target, out);
}

// viSetAttribute: read-only attributes refuse whoever asks.
ViStatus SetAttribute(Target& target, ViAttr id, ViAttrState value) {
    const AttributeRow* row = FindAttribute(id);
    if (row == nullptr)
        return VI_ERROR_NSUP_ATTR;
    if (row->set == nullptr)
        return VI_ERROR_ATTR_READONLY;
    if (row->scope == Scope::Instrument && target.instrument == nullptr)
        return VI_ERROR_NSUP_ATTR;
    return row->set(target, value);
}

} // namespace

namespace quarvel::visa::builtin {

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
    if (attrValue == nullptr)
        return VI_ERROR_INV_PARAMETER;
    if (const auto manager = Table().FindManager(vi))
        return GetAttribute(Target{manager->settings, nullptr}, attrName, attrValue);
    if (Table().FindFindList(vi))
        return VI_ERROR_NSUP_ATTR;
    return WithInstrument(vi, [&](Instrument& instrument) {
        return GetAttribute(Target{instrument.session.Settings(), &instrument}, attrName,
                            attrValue);
    });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    if (const auto manager = Table().FindManager(vi)) {
        Target target{manager->settings, nullptr};
        return SetAttribute(target, attrName, attrValue);
    }
    if (Table().FindFindList(vi))
        return VI_ERROR_NSUP_ATTR;
    return WithInstrument(vi, [&](Instrument& instrument) {
        Target target{instrument.session.Settings(), &instrument};
        return SetAttribute(target, attrName, attrValue);
    });
}

} // namespace quarvel::visa::builtin
