#pragma once

// A VISA library loaded at run time (a vendor's, for GPIB, serial and
// whatever else it offers), and the sessions opened through it. A resource
// manager given one with qviUseVisaLibrary opens through it the resources
// this layer refuses, or every resource; those sessions get a handle of
// ours and are served by the library's backend (backend.h).

#include "visa/backend.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace quarvel::visa {

class VisaLibrary {
    struct LoadKey {
        explicit LoadKey() = default;
    };

public:
    // Loads the shared library at `path` (dlopen, RTLD_NOW | RTLD_LOCAL, so
    // none of its symbols stand in for ours) and looks up its entry points.
    // It is never unloaded: vendors' libraries keep threads of their own.
    // Null when it cannot be loaded or lacks a function Quarvel needs; then
    // `error` names the path and the loader's reason (dlerror).
    static std::shared_ptr<VisaLibrary> Load(const std::string& path, std::string& error);
    VisaLibrary(LoadKey, void* handle, std::string path)
        : m_handle(handle), m_path(std::move(path)) {}
    ~VisaLibrary();
    VisaLibrary(const VisaLibrary&) = delete;
    VisaLibrary& operator=(const VisaLibrary&) = delete;

    const std::string& Path() const { return m_path; }
    // The per-session functions; those the library lacks answer
    // VI_ERROR_NSUP_OPER, the progress handler included.
    const Backend& SessionCalls() const { return m_calls; }

    ViStatus (*openDefaultRM)(ViPSession) = nullptr;
    ViStatus (*open)(ViSession, ViConstRsrc, ViAccessMode, ViUInt32, ViPSession) = nullptr;
    ViStatus (*close)(ViObject) = nullptr;
    // Listing what the library finds; a library without them answers
    // VI_ERROR_NSUP_OPER.
    ViStatus (*findRsrc)(ViSession, ViConstString, ViPFindList, ViPUInt32, ViChar*) = nullptr;
    ViStatus (*findNext)(ViFindList, ViChar*) = nullptr;

private:
    void* m_handle;
    std::string m_path;
    Backend m_calls{};
};

// A resource manager's use of a loaded library: which resources go to it and
// the library's own resource manager, opened at the first resource sent.
class LibraryLink {
public:
    LibraryLink(std::shared_ptr<VisaLibrary> library, bool allResources)
        : m_library(std::move(library)), m_allResources(allResources) {}
    ~LibraryLink();
    LibraryLink(const LibraryLink&) = delete;
    LibraryLink& operator=(const LibraryLink&) = delete;

    const VisaLibrary& Library() const { return *m_library; }
    // True when `name` goes to the library: every name, or those this layer
    // refuses (parseStatus is what our resource-name parser answered).
    bool Takes(ViStatus parseStatus) const { return m_allResources || parseStatus != VI_SUCCESS; }
    // The library's resource manager; opened on the first call.
    ViStatus ResourceManager(ViSession& rm);

private:
    std::shared_ptr<VisaLibrary> m_library;
    bool m_allResources;
    std::mutex m_mutex;
    ViSession m_rm = VI_NULL;
};

// An instrument session the library serves; closed there when released.
struct ForwardedSession {
    ForwardedSession(std::shared_ptr<LibraryLink> libraryLink, ViSession libraryHandle,
                     ViSession rm)
        : link(std::move(libraryLink)), handle(libraryHandle), resourceManager(rm) {}
    ~ForwardedSession();
    ForwardedSession(const ForwardedSession&) = delete;
    ForwardedSession& operator=(const ForwardedSession&) = delete;

    std::shared_ptr<LibraryLink> link;
    ViSession handle;
    ViSession resourceManager; // ours
};

// "VI_ERROR_RSRC_NFOUND (0xBFFF0011)", or the number alone for a status
// this layer does not name: how a loaded library's answer is reported.
std::string StatusText(ViStatus status);

// The interface keyword a resource name starts with, upper case ("GPIB" for
// "gpib0::5::INSTR", "ASRL" for "ASRL/dev/ttyUSB0::INSTR"); empty when it
// starts with none of the standard's.
std::string StandardInterfaceKeyword(std::string_view name);
// True when `name` starts with a standard interface keyword that none of our
// transports serves (GPIB, ASRL, VXI, ...): a name for another VISA library.
bool IsForeignInterface(std::string_view name);

} // namespace quarvel::visa
