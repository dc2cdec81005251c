#include "visa/usb_discovery.h"

#include "codec/usb_descriptors.h"
#include "codec/usbtmc_message.h"
#include "visa/builtin_transports.h"
#include "visa/usb_libusb.h"
#include "visa/usbip_client.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace quarvel::visa {

namespace {

namespace tmc = quarvel::visa::usbtmc;
using usb::UsbResult;

std::string UsbResourceString(const UsbtmcIdentity& id, bool withInterface) {
    char text[64];
    std::snprintf(text, sizeof text, "USB0::0x%04X::0x%04X::", id.vendorId, id.productId);
    std::string resource = text + id.serialNumber;
    if (withInterface)
        resource += "::" + std::to_string(id.interfaceNumber);
    return resource + "::INSTR";
}

UsbResult GetDescriptor(usb::IUsbDevice& device, std::uint8_t type, std::uint8_t index,
                        std::uint16_t language, std::size_t length, Deadline deadline,
                        usb::Bytes& out) {
    out.assign(length, 0);
    std::size_t got = 0;
    const UsbResult r = device.Control({0x80, usb::kRequestGetDescriptor,
                                        static_cast<std::uint16_t>(type << 8 | index), language,
                                        static_cast<std::uint16_t>(length)},
                                       out.data(), deadline, got);
    out.resize(got);
    return r;
}

// Reads the descriptors and finds the USBTMC interface (the one numbered
// wantedInterface when that is not negative).
ViStatus IdentifyUsbtmc(usb::IUsbDevice& device, int wantedInterface, Deadline deadline,
                        UsbtmcIdentity& identity) {
    usb::Bytes bytes;
    usb::DeviceDescriptor dd;
    if (GetDescriptor(device, usb::kDescriptorDevice, 0, 0, usb::kDeviceDescriptorSize, deadline,
                      bytes) != UsbResult::Ok ||
        !usb::ParseDeviceDescriptor(bytes, dd))
        return VI_ERROR_IO;
    std::size_t total = 0;
    if (GetDescriptor(device, usb::kDescriptorConfiguration, 0, 0, usb::kConfigurationHeaderSize,
                      deadline, bytes) != UsbResult::Ok ||
        !usb::ConfigurationTotalLength(bytes, total) ||
        GetDescriptor(device, usb::kDescriptorConfiguration, 0, 0, total, deadline, bytes) !=
            UsbResult::Ok)
        return VI_ERROR_IO;
    usb::ConfigurationDescriptor config;
    if (!usb::ParseConfigurationDescriptor(bytes, config))
        return VI_ERROR_IO;
    const usb::InterfaceDescriptor* found = nullptr;
    for (const usb::InterfaceDescriptor& i : config.interfaces)
        if (!found && i.alternateSetting == 0 && i.interfaceClass == tmc::kInterfaceClass &&
            i.interfaceSubClass == tmc::kInterfaceSubClass &&
            (wantedInterface < 0 || i.number == wantedInterface))
            found = &i;
    if (!found)
        return VI_ERROR_RSRC_NFOUND;
    UsbtmcIdentity id;
    id.vendorId = dd.vendorId;
    id.productId = dd.productId;
    id.configurationValue = config.value;
    id.interfaceNumber = found->number;
    id.protocol = found->interfaceProtocol;
    for (const usb::EndpointDescriptor& e : found->endpoints) {
        if (e.TransferType() == usb::kTransferBulk && e.IsIn() && id.bulkIn == 0) {
            id.bulkIn = e.address;
            id.bulkInPacketSize = std::max<std::uint16_t>(e.maxPacketSize, 8);
        } else if (e.TransferType() == usb::kTransferBulk && !e.IsIn() && id.bulkOut == 0) {
            id.bulkOut = e.address;
        } else if (e.TransferType() == usb::kTransferInterrupt && e.IsIn() && id.interruptIn == 0) {
            id.interruptIn = e.address;
            id.interruptPacketSize = e.maxPacketSize;
        }
    }
    if (id.bulkIn == 0 || id.bulkOut == 0)
        return VI_ERROR_IO;
    if (dd.serialNumberIndex != 0) {
        std::vector<std::uint16_t> languages;
        if (GetDescriptor(device, usb::kDescriptorString, 0, 0, usb::kMaxStringDescriptorSize,
                          deadline, bytes) != UsbResult::Ok ||
            !usb::ParseLanguageIds(bytes, languages) || languages.empty() ||
            GetDescriptor(device, usb::kDescriptorString, dd.serialNumberIndex, languages[0],
                          usb::kMaxStringDescriptorSize, deadline, bytes) != UsbResult::Ok ||
            !usb::ParseStringDescriptor(bytes, id.serialNumber))
            return VI_ERROR_IO;
    }
    identity = std::move(id);
    return VI_SUCCESS;
}

std::vector<usbip::ServerAddress> UsbipServers(const SessionSettings& settings) {
    std::vector<usbip::ServerAddress> all;
    std::vector<usbip::ServerAddress> some;
    if (usbip::ParseServerList(settings.usbipServers, some))
        all.insert(all.end(), some.begin(), some.end());
    if (const char* env = std::getenv("QUARVEL_USBIP"); env && usbip::ParseServerList(env, some))
        all.insert(all.end(), some.begin(), some.end());
    return all;
}

bool HasUsbtmcInterface(const usbip::ExportedDevice& device) {
    return std::any_of(device.interfaces.begin(), device.interfaces.end(), [](const auto& i) {
        return i.interfaceClass == tmc::kInterfaceClass &&
               i.interfaceSubClass == tmc::kInterfaceSubClass;
    });
}

} // namespace

ViStatus FindUsbtmcDevice(const ResourceName& name, const SessionSettings& settings,
                          Deadline deadline, std::unique_ptr<usb::IUsbDevice>& found,
                          UsbtmcIdentity& identity) {
    // A device of the model that another importer holds cannot show its
    // serial number: when nothing else matches, the answer is that it is
    // busy, not that it is missing.
    bool busy = false;
    for (const usbip::ServerAddress& server : UsbipServers(settings)) {
        std::vector<usbip::ExportedDevice> devices;
        if (usbip::ListDevices(server, deadline, devices) != VI_SUCCESS)
            continue;
        for (const usbip::ExportedDevice& exported : devices) {
            if (exported.vendorId != name.manufacturerId || exported.productId != name.modelCode ||
                !HasUsbtmcInterface(exported))
                continue;
            std::unique_ptr<usb::IUsbDevice> device;
            if (const ViStatus s = usbip::ImportDevice(server, exported.busId, deadline, device);
                s != VI_SUCCESS) {
                busy = busy || s == VI_ERROR_RSRC_BUSY;
                continue;
            }
            UsbtmcIdentity id;
            if (IdentifyUsbtmc(*device, name.interfaceNumber, deadline, id) != VI_SUCCESS ||
                id.serialNumber != name.serialNumber)
                continue;
            found = std::move(device);
            identity = std::move(id);
            return VI_SUCCESS;
        }
    }
    // Devices on this machine. One this user may not open is reported as
    // such when nothing else matches, so the user learns what to do.
    ViStatus status = busy ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
    for (const usb::LocalUsbtmcDevice& local : usb::ListLocalUsbtmc()) {
        if (local.vendorId != name.manufacturerId || local.productId != name.modelCode)
            continue;
        std::unique_ptr<usb::IUsbDevice> device;
        if (const UsbResult r = usb::OpenLocalDevice(local, device); r != UsbResult::Ok) {
            if (r == UsbResult::NoAccess)
                status = QVI_ERROR_NO_PERMISSION;
            continue;
        }
        UsbtmcIdentity id;
        if (IdentifyUsbtmc(*device, name.interfaceNumber, deadline, id) != VI_SUCCESS ||
            id.serialNumber != name.serialNumber)
            continue;
        found = std::move(device);
        identity = std::move(id);
        return VI_SUCCESS;
    }
    return status;
}

void FindUsbResources(const SessionSettings& settings, Deadline deadline,
                      std::vector<std::string>& found) {
    if ((settings.discoveryMethods & kDiscoverUsb) == 0)
        return;
    // A cancel is seen between devices; each step is bounded by the deadline.
    for (const usbip::ServerAddress& server : UsbipServers(settings)) {
        std::vector<usbip::ExportedDevice> devices;
        if (FindCancelled(settings) || usbip::ListDevices(server, deadline, devices) != VI_SUCCESS)
            continue;
        for (const usbip::ExportedDevice& exported : devices) {
            if (!HasUsbtmcInterface(exported) || FindCancelled(settings))
                continue;
            std::unique_ptr<usb::IUsbDevice> device;
            UsbtmcIdentity id;
            if (usbip::ImportDevice(server, exported.busId, deadline, device) != VI_SUCCESS ||
                IdentifyUsbtmc(*device, -1, deadline, id) != VI_SUCCESS)
                continue;
            found.push_back(UsbResourceString(id, id.interfaceNumber != 0));
        }
    }
    // Devices on this machine that this user may open.
    for (const usb::LocalUsbtmcDevice& local : usb::ListLocalUsbtmc()) {
        std::unique_ptr<usb::IUsbDevice> device;
        UsbtmcIdentity id;
        if (!FindCancelled(settings) && usb::OpenLocalDevice(local, device) == UsbResult::Ok &&
            IdentifyUsbtmc(*device, -1, deadline, id) == VI_SUCCESS)
            found.push_back(UsbResourceString(id, id.interfaceNumber != 0));
    }
}

} // namespace quarvel::visa
