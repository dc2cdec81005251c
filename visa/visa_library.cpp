#include "visa/visa_library.h"

#include "visa/transport_table.h"

#include <dlfcn.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace quarvel::visa {

namespace {

// Stands in for a function the loaded library does not export.
template <typename... Args> ViStatus Unsupported(Args...) {
    return VI_ERROR_NSUP_OPER;
}

// Other libraries know nothing of a reply read by the caller's own length:
// the caller's viFlush(VI_READ_BUF) reads the rest of it, as with any VISA.
ViStatus NothingToMark(ViSession) {
    return VI_SUCCESS;
}

// Nor do they report progress: the length of the data that follows a
// header the caller read has nobody to be told to.
ViStatus NobodyToTell(ViSession, ViUInt64) {
    return VI_SUCCESS;
}

// Looks `name` up; a missing function answers VI_ERROR_NSUP_OPER, or, when
// `needed`, is added to `missing`.
template <typename... Args>
void Resolve(void* handle, const char* name, ViStatus (*&function)(Args...), bool needed,
             std::string& missing) {
    if (void* symbol = dlsym(handle, name)) {
        function = reinterpret_cast<ViStatus (*)(Args...)>(symbol);
        return;
    }
    function = &Unsupported<Args...>;
    if (needed)
        missing += missing.empty() ? name : std::string(", ") + name;
}

} // namespace

std::shared_ptr<VisaLibrary> VisaLibrary::Load(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no VISA library named";
        return nullptr;
    }
    // A name without '/' would be searched for along the library path; the
    // user names a file.
    if (path.find('/') == std::string::npos) {
        error = "cannot load the VISA library " + path + ": give its path (with a '/')";
        return nullptr;
    }
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error =
            "cannot load the VISA library " + path + ": " + (reason ? reason : "unknown reason");
        return nullptr;
    }
    auto library = std::make_shared<VisaLibrary>(LoadKey{}, handle, path);
    std::string missing;
    Resolve(handle, "viOpenDefaultRM", library->openDefaultRM, true, missing);
    Resolve(handle, "viOpen", library->open, true, missing);
    Resolve(handle, "viClose", library->close, true, missing);
    Resolve(handle, "viFindRsrc", library->findRsrc, false, missing);
    Resolve(handle, "viFindNext", library->findNext, false, missing);
    Backend& calls = library->m_calls;
    Resolve(handle, "viRead", calls.read, true, missing);
    Resolve(handle, "viWrite", calls.write, true, missing);
    Resolve(handle, "viFlush", calls.flush, true, missing);
    Resolve(handle, "viVPrintf", calls.vPrintf, true, missing);
    Resolve(handle, "viVScanf", calls.vScanf, true, missing);
    Resolve(handle, "viVQueryf", calls.vQueryf, true, missing);
    Resolve(handle, "viGetAttribute", calls.getAttribute, true, missing);
    Resolve(handle, "viSetAttribute", calls.setAttribute, true, missing);
    Resolve(handle, "viBufRead", calls.bufRead, false, missing);
    Resolve(handle, "viBufWrite", calls.bufWrite, false, missing);
    Resolve(handle, "viSetBuf", calls.setBuf, false, missing);
    Resolve(handle, "viClear", calls.clear, false, missing);
    Resolve(handle, "viReadSTB", calls.readSTB, false, missing);
    Resolve(handle, "viLock", calls.lock, false, missing);
    Resolve(handle, "viUnlock", calls.unlock, false, missing);
    Resolve(handle, "viVSPrintf", calls.vSPrintf, false, missing);
    Resolve(handle, "viVSScanf", calls.vSScanf, false, missing);
    Resolve(handle, "viStatusDesc", calls.statusDesc, false, missing);
    Resolve(handle, "viEnableEvent", calls.enableEvent, false, missing);
    Resolve(handle, "viDisableEvent", calls.disableEvent, false, missing);
    Resolve(handle, "viDiscardEvents", calls.discardEvents, false, missing);
    Resolve(handle, "viWaitOnEvent", calls.waitOnEvent, false, missing);
    calls.setProgressHandler = &Unsupported<ViSession, QviProgressHandler, ViAddr>;
    calls.getProgressHandler = &Unsupported<ViSession, QviProgressHandler*, ViAddr*>;
    calls.endOfReplyData = &NothingToMark;
    calls.expectReplyData = &NobodyToTell;
    if (!missing.empty()) {
        error = path + " is not a VISA library: it lacks " + missing;
        return nullptr; // the destructor unloads it
    }
    return library;
}

VisaLibrary::~VisaLibrary() {
    dlclose(m_handle);
}

LibraryLink::~LibraryLink() {
    if (m_rm != VI_NULL)
        m_library->close(m_rm);
}

ViStatus LibraryLink::ResourceManager(ViSession& rm) {
    std::lock_guard lock(m_mutex);
    if (m_rm == VI_NULL)
        if (const ViStatus s = m_library->openDefaultRM(&m_rm); s < VI_SUCCESS) {
            m_rm = VI_NULL;
            return s;
        }
    rm = m_rm;
    return VI_SUCCESS;
}

ForwardedSession::~ForwardedSession() {
    link->Library().close(handle);
}

std::string StatusText(ViStatus status) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(status));
    const char* name = qviStatusName(status);
    return std::strcmp(name, "unknown status") == 0 ? std::string(hex)
                                                    : std::string(name) + " (" + hex + ")";
}

std::string StandardInterfaceKeyword(std::string_view name) {
    // Longest first: "GPIB-VXI" before "GPIB".
    static constexpr std::array<std::string_view, 8> kKeywords = {
        "GPIB-VXI", "GPIB", "VXI", "ASRL", "PXI", "TCPIP", "USB", "FIREWIRE"};
    for (const std::string_view keyword : kKeywords) {
        if (name.size() < keyword.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < keyword.size() && same; ++i)
            same = std::toupper(static_cast<unsigned char>(name[i])) == keyword[i];
        if (!same)
            continue;
        // The keyword ends at the board number, the separator or a serial
        // device path.
        const char next = name.size() > keyword.size() ? name[keyword.size()] : ':';
        if (std::isdigit(static_cast<unsigned char>(next)) || next == ':' || next == '/')
            return std::string(keyword);
    }
    return {};
}

bool IsForeignInterface(std::string_view name) {
    const std::string keyword = StandardInterfaceKeyword(name);
    return !keyword.empty() && !HasTransportFor(keyword);
}

} // namespace quarvel::visa
