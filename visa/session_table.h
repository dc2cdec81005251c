#pragma once

// The VISA sessions of this process: resource managers, the instrument
// sessions opened from them and the find lists of viFindRsrc, each under its
// own ViObject number. The entry points (visa_*.cpp) look sessions up here.

#include "visa/resource_name.h"
#include "visa/session.h"
#include "visa/visa_library.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarvel::visa {

struct ResourceManager {
    SessionSettings settings;
    std::vector<ViSession> instruments;
    std::vector<ViSession> forwarded; // sessions a loaded VISA library serves
    std::vector<ViFindList> findLists;
    // Set by qviUseVisaLibrary (SessionTable::SetLibrary, under the table's
    // lock); sessions already open keep theirs.
    std::shared_ptr<LibraryLink> library;
    // Set by qviCancelFind; the listers of a search look at it.
    std::atomic<bool> findCancelled{false};
    // What the last viFindRsrc found out (qviFindReport).
    std::mutex reportMutex;
    std::string findReport;
};

struct Instrument {
    Instrument(std::unique_ptr<ITransport> transport, const SessionSettings& settings, ViSession rm)
        : session(std::move(transport), settings), resourceManager(rm) {}
    // One call at a time per session.
    std::mutex mutex;
    // Set by viClose (under the table's lock, before it waits for a call
    // under way): a call that was waiting for the mutex finds the session
    // closed and does nothing.
    std::atomic<bool> closed{false};
    Session session;
    ViSession resourceManager;
    ResourceName name;
    ViUInt16 interfaceCode = 0;
    bool sendEnd = true;                  // VI_ATTR_SEND_END_EN
    ViUInt16 ioProtocol = VI_PROT_NORMAL; // VI_ATTR_IO_PROT
    unsigned lockCount = 0;               // nested viLock calls
};

// The names viFindRsrc found; viFindNext hands them out one by one.
struct FindList {
    std::mutex mutex;
    std::vector<std::string> names;
    std::size_t next = 0;
};

class SessionTable {
public:
    ViSession AddResourceManager(const SessionSettings& settings);
    std::shared_ptr<ResourceManager> FindManager(ViObject id);
    std::shared_ptr<Instrument> FindInstrument(ViObject id);
    std::shared_ptr<FindList> FindFindList(ViObject id);
    std::shared_ptr<ForwardedSession> FindForwarded(ViObject id);
    // 0 when the resource manager has gone meanwhile.
    ViSession AddInstrument(ViSession rm, std::shared_ptr<Instrument> instrument);
    ViFindList AddFindList(ViSession rm, std::shared_ptr<FindList> list);
    ViSession AddForwarded(ViSession rm, std::shared_ptr<ForwardedSession> session);
    // Makes `library` the one the resource manager passes resources to
    // (null: none). False when there is no such resource manager.
    bool SetLibrary(ViSession rm, std::shared_ptr<LibraryLink> library);
    // The library a resource manager passes resources to; null for none.
    std::shared_ptr<LibraryLink> LibraryOf(ViSession rm);
    // Removes a session (a resource manager with all it opened). A call
    // under way on an instrument session in another thread is interrupted
    // (it returns VI_ERROR_ABORT within tens of milliseconds; a search under
    // way on a resource manager is cancelled) and waited for. The objects
    // are released after the lock is dropped: closing a VXI-11 link talks to
    // the device, and a loaded library's sessions are closed by that library
    // (before its resource manager).
    bool Remove(ViObject id);

private:
    ViObject NextId();
    bool InUse(ViObject id) const;

    std::mutex m_mutex;
    ViObject m_next = 0x100;
    std::unordered_map<ViObject, std::shared_ptr<ResourceManager>> m_managers;
    std::unordered_map<ViObject, std::shared_ptr<Instrument>> m_instruments;
    std::unordered_map<ViObject, std::shared_ptr<FindList>> m_findLists;
    std::unordered_map<ViObject, std::shared_ptr<ForwardedSession>> m_forwarded;
};

SessionTable& Table();

// Runs work(Instrument&) on an instrument session, one call at a time, with
// the session's call clock started.
template <typename Work> ViStatus WithInstrument(ViSession vi, Work&& work) {
    const auto instrument = Table().FindInstrument(vi);
    if (!instrument)
        return VI_ERROR_INV_OBJECT;
    std::lock_guard lock(instrument->mutex);
    if (instrument->closed.load())
        return VI_ERROR_INV_OBJECT;
    instrument->session.BeginCall();
    return work(*instrument);
}

// Copies text into a caller's ViChar[256] (VI_FIND_BUFLEN), cut to fit.
void CopyOut(const std::string& text, ViChar* out);

} // namespace quarvel::visa
