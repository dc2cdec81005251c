// viGetAttribute and viSetAttribute for resource managers and instrument
// sessions. Each attribute is read in the type the standard gives it
// (visa.h); string attributes are copied into the caller's ViChar[256].

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

// Attributes every session has (resource managers included).
bool GetCommon(const SessionSettings& settings, ViAttr attribute, void* out, ViStatus& status) {
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        status = Put<ViUInt32>(out, settings.timeoutMs);
        return true;
    case QVI_ATTR_PORTMAPPER_PORT:
        status = Put<ViUInt16>(out, settings.portmapperPort);
        return true;
    case QVI_ATTR_USBIP_SERVERS:
        status = PutText(out, settings.usbipServers);
        return true;
    case QVI_ATTR_DISCOVERY_METHODS:
        status = PutText(out, quarvel::visa::DiscoveryMethodNames(settings.discoveryMethods));
        return true;
    case QVI_ATTR_PROBE_HOSTS:
        status = PutText(out, settings.probeHosts);
        return true;
    case QVI_ATTR_DISCOVERY_TMO:
        status = Put<ViUInt32>(out, settings.discoveryMs);
        return true;
    case VI_ATTR_RSRC_MANF_NAME:
        status = PutText(out, kManufacturer);
        return true;
    case VI_ATTR_RSRC_SPEC_VERSION:
        status = Put<ViVersion>(out, VI_SPEC_VERSION);
        return true;
    case VI_ATTR_RSRC_IMPL_VERSION:
        status = Put<ViVersion>(out, kImplementationVersion);
        return true;
    default:
        return false;
    }
}

ViStatus GetInstrument(Instrument& instrument, ViAttr attribute, void* out) {
    const SessionSettings& settings = instrument.session.Settings();
    ViStatus status = VI_SUCCESS;
    if (GetCommon(settings, attribute, out, status))
        return status;
    const auto& name = instrument.name;
    const bool tcpip = instrument.interfaceCode == VI_INTF_TCPIP;
    const bool socket = name.resourceClass == "SOCKET";
    switch (attribute) {
    case VI_ATTR_RSRC_NAME:
        return PutText(out, quarvel::visa::CanonicalResourceName(name));
    case VI_ATTR_RSRC_CLASS:
        return PutText(out, name.resourceClass);
    case VI_ATTR_RSRC_LOCK_STATE:
        return Put<ViAccessMode>(out, instrument.lockCount > 0 ? VI_EXCLUSIVE_LOCK : VI_NO_LOCK);
    case VI_ATTR_INTF_TYPE:
        return Put<ViUInt16>(out, instrument.interfaceCode);
    case VI_ATTR_INTF_NUM:
        return Put<ViUInt16>(out, static_cast<ViUInt16>(name.board));
    case VI_ATTR_TERMCHAR:
        return Put<ViUInt8>(out, settings.termChar);
    case VI_ATTR_TERMCHAR_EN:
        return Put<ViBoolean>(out, settings.termCharEnabled ? VI_TRUE : VI_FALSE);
    case VI_ATTR_SEND_END_EN:
        return Put<ViBoolean>(out, instrument.sendEnd ? VI_TRUE : VI_FALSE);
    case VI_ATTR_SUPPRESS_END_EN:
        return Put<ViBoolean>(out, settings.suppressEnd ? VI_TRUE : VI_FALSE);
    case VI_ATTR_IO_PROT:
        return Put<ViUInt16>(out, instrument.ioProtocol);
    case VI_ATTR_TCPIP_ADDR:
    case VI_ATTR_TCPIP_HOSTNAME:
        return tcpip ? PutText(out, name.host) : VI_ERROR_NSUP_ATTR;
    case VI_ATTR_TCPIP_PORT:
        return tcpip && socket ? Put<ViUInt16>(out, name.port) : VI_ERROR_NSUP_ATTR;
    case VI_ATTR_TCPIP_DEVICE_NAME:
        return tcpip && !socket ? PutText(out, name.device) : VI_ERROR_NSUP_ATTR;
    default:
        return instrument.session.Transport().GetAttribute(attribute, out);
    }
}

bool IsReadOnly(ViAttr attribute) {
    switch (attribute) {
    case VI_ATTR_RSRC_NAME:
    case VI_ATTR_RSRC_CLASS:
    case VI_ATTR_RSRC_LOCK_STATE:
    case VI_ATTR_RSRC_MANF_NAME:
    case VI_ATTR_RSRC_SPEC_VERSION:
    case VI_ATTR_RSRC_IMPL_VERSION:
    case VI_ATTR_INTF_TYPE:
    case VI_ATTR_INTF_NUM:
    case VI_ATTR_TCPIP_ADDR:
    case VI_ATTR_TCPIP_HOSTNAME:
    case VI_ATTR_TCPIP_PORT:
    case VI_ATTR_TCPIP_DEVICE_NAME:
    case VI_ATTR_MANF_ID:
    case VI_ATTR_MODEL_CODE:
    case VI_ATTR_USB_SERIAL_NUM:
    case VI_ATTR_USB_INTFC_NUM:
    case VI_ATTR_USB_PROTOCOL:
    case VI_ATTR_USB_MAX_INTR_SIZE:
        return true;
    default:
        return false;
    }
}

bool SetCommon(SessionSettings& settings, ViAttr attribute, ViAttrState value, ViStatus& status) {
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        if (value > VI_TMO_INFINITE) {
            status = VI_ERROR_NSUP_ATTR_STATE;
            return true;
        }
        settings.timeoutMs = static_cast<ViUInt32>(value);
        status = VI_SUCCESS;
        return true;
    case QVI_ATTR_PORTMAPPER_PORT:
        if (value == 0 || value > 0xFFFF) {
            status = VI_ERROR_NSUP_ATTR_STATE;
            return true;
        }
        settings.portmapperPort = static_cast<ViUInt16>(value);
        status = VI_SUCCESS;
        return true;
    case QVI_ATTR_USBIP_SERVERS: {
        const auto* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(value));
        std::vector<quarvel::visa::usbip::ServerAddress> servers;
        if (text == nullptr || !quarvel::visa::usbip::ParseServerList(text, servers)) {
            status = VI_ERROR_NSUP_ATTR_STATE;
            return true;
        }
        settings.usbipServers = text;
        status = VI_SUCCESS;
        return true;
    }
    case QVI_ATTR_DISCOVERY_METHODS: {
        const auto* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(value));
        unsigned methods = 0;
        const bool ok = text != nullptr &&
                        (*text == '\0' || quarvel::visa::ParseDiscoveryMethods(text, methods));
        if (ok)
            settings.discoveryMethods = methods;
        status = ok ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
        return true;
    }
    case QVI_ATTR_PROBE_HOSTS: {
        const auto* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(value));
        std::vector<std::uint32_t> hosts;
        std::vector<std::string> names; // resolved when a search runs
        const bool ok = text != nullptr &&
                        (*text == '\0' || quarvel::visa::ParseProbeHosts(text, hosts, &names));
        if (ok)
            settings.probeHosts = text;
        status = ok ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
        return true;
    }
    case QVI_ATTR_DISCOVERY_TMO:
        if (value == 0 || value > 3600000u) {
            status = VI_ERROR_NSUP_ATTR_STATE;
            return true;
        }
        settings.discoveryMs = static_cast<ViUInt32>(value);
        status = VI_SUCCESS;
        return true;
    default:
        if (IsReadOnly(attribute)) {
            status = VI_ERROR_ATTR_READONLY;
            return true;
        }
        return false;
    }
}

// A ViBoolean attribute's new value; false for anything but VI_TRUE/VI_FALSE.
bool AsBoolean(ViAttrState value, bool& flag) {
    if (value != VI_TRUE && value != VI_FALSE)
        return false;
    flag = value == VI_TRUE;
    return true;
}

ViStatus SetInstrument(Instrument& instrument, ViAttr attribute, ViAttrState value) {
    SessionSettings& settings = instrument.session.Settings();
    ViStatus status = VI_SUCCESS;
    if (SetCommon(settings, attribute, value, status))
        return status;
    switch (attribute) {
    case VI_ATTR_TERMCHAR:
        if (value > 0xFF)
            return VI_ERROR_NSUP_ATTR_STATE;
        settings.termChar = static_cast<std::uint8_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        return AsBoolean(value, settings.termCharEnabled) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    case VI_ATTR_SEND_END_EN:
        return AsBoolean(value, instrument.sendEnd) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    case VI_ATTR_SUPPRESS_END_EN:
        return AsBoolean(value, settings.suppressEnd) ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    case VI_ATTR_IO_PROT:
        if (value != VI_PROT_NORMAL && value != VI_PROT_4882_STRS)
            return VI_ERROR_NSUP_ATTR_STATE;
        instrument.ioProtocol = static_cast<ViUInt16>(value);
        return VI_SUCCESS;
    default:
        return VI_ERROR_NSUP_ATTR;
    }
}

} // namespace

namespace quarvel::visa::builtin {

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
    if (attrValue == nullptr)
        return VI_ERROR_INV_PARAMETER;
    if (const auto manager = Table().FindManager(vi)) {
        ViStatus status = VI_SUCCESS;
        if (GetCommon(manager->settings, attrName, attrValue, status))
            return status;
        if (attrName == VI_ATTR_RSRC_LOCK_STATE)
            return Put<ViAccessMode>(attrValue, VI_NO_LOCK);
        return VI_ERROR_NSUP_ATTR;
    }
    if (Table().FindFindList(vi))
        return VI_ERROR_NSUP_ATTR;
    return WithInstrument(
        vi, [&](Instrument& instrument) { return GetInstrument(instrument, attrName, attrValue); });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    if (const auto manager = Table().FindManager(vi)) {
        ViStatus status = VI_SUCCESS;
        if (SetCommon(manager->settings, attrName, attrValue, status))
            return status;
        return VI_ERROR_NSUP_ATTR;
    }
    if (Table().FindFindList(vi))
        return VI_ERROR_NSUP_ATTR;
    return WithInstrument(
        vi, [&](Instrument& instrument) { return SetInstrument(instrument, attrName, attrValue); });
}

} // namespace quarvel::visa::builtin
