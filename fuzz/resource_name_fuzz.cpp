// Fuzzes the resource-string parser with the built-in transports' forms
// (their field checks): any input gives a status, never a crash, and an
// accepted name always has its parts.

#include "visa/resource_forms.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    quarvel::visa::ResourceName name;
    const quarvel::visa::ResourceForm* form = nullptr;
    const ViStatus s = quarvel::visa::ParseKnownResourceName(text, name, &form);
    if (s == VI_SUCCESS) {
        if (name.interfaceType.empty() || name.resourceClass.empty() || form == nullptr ||
            name.interfaceType != form->interfaceType)
            std::abort();
        if (name.interfaceType == "USB" ? name.serialNumber.empty() : name.host.empty())
            std::abort();
        if (name.resourceClass == "SOCKET" && name.port == 0)
            std::abort();
    } else if (s != VI_ERROR_INV_RSRC_NAME) {
        std::abort();
    }
    return 0;
}
