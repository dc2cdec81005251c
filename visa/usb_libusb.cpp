#include "visa/usb_libusb.h"

#include "codec/usbtmc_message.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>

namespace quarvel::visa::usb {

namespace {

// One libusb context for the process, made on first use; null when the
// machine offers no USB (no usbfs, a container). It lives until the process
// ends: sessions a program leaves open close their handles during static
// destruction, which must not find the context already gone.
libusb_context* Context() {
    static libusb_context* const context = [] {
        libusb_context* made = nullptr;
        return libusb_init(&made) == LIBUSB_SUCCESS ? made : nullptr;
    }();
    return context;
}

UsbResult ResultOf(int error) {
    switch (error) {
    case LIBUSB_SUCCESS:
        return UsbResult::Ok;
    case LIBUSB_ERROR_TIMEOUT:
        return UsbResult::Timeout;
    case LIBUSB_ERROR_PIPE:
        return UsbResult::Stall;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return UsbResult::Lost;
    case LIBUSB_ERROR_OVERFLOW:
        return UsbResult::Overflow;
    case LIBUSB_ERROR_ACCESS:
        return UsbResult::NoAccess;
    case LIBUSB_ERROR_BUSY:
        return UsbResult::Busy;
    default:
        return UsbResult::Error;
    }
}

// libusb takes milliseconds, 0 meaning no limit; a deadline already passed
// still gets 1 ms, so what has arrived is taken.
unsigned TimeoutMs(Deadline deadline) {
    if (deadline == Deadline::max())
        return 0;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    return static_cast<unsigned>(std::clamp<long long>(left, 1, 0x7FFFFFFF));
}

bool HasUsbtmcInterface(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS)
        return false;
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i)
        for (int a = 0; a < config->interface[i].num_altsetting && !found; ++a) {
            const libusb_interface_descriptor& d = config->interface[i].altsetting[a];
            found = d.bInterfaceClass == usbtmc::kInterfaceClass &&
                    d.bInterfaceSubClass == usbtmc::kInterfaceSubClass;
        }
    libusb_free_config_descriptor(config);
    return found;
}

struct HandleCloser {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};

class LibusbDevice final : public IUsbDevice {
public:
    explicit LibusbDevice(libusb_device_handle* handle) : m_handle(handle) {}
    ~LibusbDevice() override {
        // Releasing lets libusb attach the kernel's driver again.
        if (m_claimed >= 0)
            libusb_release_interface(m_handle.get(), m_claimed);
    }

    UsbResult Control(const ControlSetup& setup, std::uint8_t* data, Deadline deadline,
                      std::size_t& transferred) override {
        transferred = 0;
        const int n =
            libusb_control_transfer(m_handle.get(), setup.requestType, setup.request, setup.value,
                                    setup.index, data, setup.length, TimeoutMs(deadline));
        if (n < 0)
            return ResultOf(n);
        transferred = static_cast<std::size_t>(n);
        return UsbResult::Ok;
    }

    UsbResult Transfer(std::uint8_t endpoint, std::uint8_t* data, std::size_t size,
                       Deadline deadline, std::size_t& transferred) override {
        transferred = 0;
        if (size > 0x7FFFFFFF)
            return UsbResult::Error;
        int done = 0;
        const int r =
            m_interrupt.count(endpoint)
                ? libusb_interrupt_transfer(m_handle.get(), endpoint, data, static_cast<int>(size),
                                            &done, TimeoutMs(deadline))
                : libusb_bulk_transfer(m_handle.get(), endpoint, data, static_cast<int>(size),
                                       &done, TimeoutMs(deadline));
        transferred = static_cast<std::size_t>(std::max(done, 0));
        return ResultOf(r);
    }

    UsbResult ClearHalt(std::uint8_t endpoint, Deadline /*deadline*/) override {
        return ResultOf(libusb_clear_halt(m_handle.get(), endpoint));
    }

    UsbResult Claim(std::uint8_t configurationValue, std::uint8_t interfaceNumber,
                    Deadline /*deadline*/) override {
        int current = 0;
        if (libusb_get_configuration(m_handle.get(), &current) == LIBUSB_SUCCESS &&
            current != configurationValue) {
            if (const int r = libusb_set_configuration(m_handle.get(), configurationValue);
                r != LIBUSB_SUCCESS)
                return ResultOf(r);
        }
        libusb_set_auto_detach_kernel_driver(m_handle.get(), 1);
        if (const int r = libusb_claim_interface(m_handle.get(), interfaceNumber);
            r != LIBUSB_SUCCESS)
            return ResultOf(r);
        m_claimed = interfaceNumber;
        // Interrupt endpoints need their own call in libusb.
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(libusb_get_device(m_handle.get()), &config) ==
            LIBUSB_SUCCESS) {
            for (int i = 0; i < config->bNumInterfaces; ++i)
                for (int a = 0; a < config->interface[i].num_altsetting; ++a) {
                    const auto& d = config->interface[i].altsetting[a];
                    for (int e = 0; e < d.bNumEndpoints; ++e)
                        if ((d.endpoint[e].bmAttributes & 0x03) == kTransferInterrupt)
                            m_interrupt.insert(d.endpoint[e].bEndpointAddress);
                }
            libusb_free_config_descriptor(config);
        }
        return UsbResult::Ok;
    }

private:
    std::unique_ptr<libusb_device_handle, HandleCloser> m_handle;
    int m_claimed = -1;
    std::set<std::uint8_t> m_interrupt;
};

} // namespace

std::vector<LocalUsbtmcDevice> ListLocalUsbtmc() {
    std::vector<LocalUsbtmcDevice> found;
    libusb_context* context = Context();
    if (context == nullptr)
        return found;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != LIBUSB_SUCCESS ||
            !HasUsbtmcInterface(list[i]))
            continue;
        found.push_back({libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]),
                         d.idVendor, d.idProduct});
    }
    if (list != nullptr)
        libusb_free_device_list(list, 1);
    return found;
}

UsbResult OpenLocalDevice(const LocalUsbtmcDevice& which, std::unique_ptr<IUsbDevice>& device) {
    libusb_context* context = Context();
    if (context == nullptr)
        return UsbResult::Lost;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    UsbResult result = UsbResult::Lost;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(list[i]) != which.bus ||
            libusb_get_device_address(list[i]) != which.address)
            continue;
        libusb_device_handle* handle = nullptr;
        const int r = libusb_open(list[i], &handle);
        result = ResultOf(r);
        if (r == LIBUSB_SUCCESS)
            device = std::make_unique<LibusbDevice>(handle);
        break;
    }
    if (list != nullptr)
        libusb_free_device_list(list, 1);
    return result;
}

} // namespace quarvel::visa::usb
