#include "visa/session_table.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quarvel::visa {

ViSession SessionTable::AddResourceManager(const SessionSettings& settings) {
    std::lock_guard lock(m_mutex);
    const ViSession id = NextId();
    auto manager = std::make_shared<ResourceManager>();
    manager->settings = settings;
    m_managers[id] = std::move(manager);
    return id;
}

std::shared_ptr<ResourceManager> SessionTable::FindManager(ViObject id) {
    std::lock_guard lock(m_mutex);
    const auto it = m_managers.find(id);
    return it == m_managers.end() ? nullptr : it->second;
}

std::shared_ptr<Instrument> SessionTable::FindInstrument(ViObject id) {
    std::lock_guard lock(m_mutex);
    const auto it = m_instruments.find(id);
    return it == m_instruments.end() ? nullptr : it->second;
}

std::shared_ptr<FindList> SessionTable::FindFindList(ViObject id) {
    std::lock_guard lock(m_mutex);
    const auto it = m_findLists.find(id);
    return it == m_findLists.end() ? nullptr : it->second;
}

std::shared_ptr<ForwardedSession> SessionTable::FindForwarded(ViObject id) {
    std::lock_guard lock(m_mutex);
    const auto it = m_forwarded.find(id);
    return it == m_forwarded.end() ? nullptr : it->second;
}

ViSession SessionTable::AddInstrument(ViSession rm, std::shared_ptr<Instrument> instrument) {
    std::lock_guard lock(m_mutex);
    const auto manager = m_managers.find(rm);
    if (manager == m_managers.end())
        return 0;
    const ViSession id = NextId();
    m_instruments[id] = std::move(instrument);
    manager->second->instruments.push_back(id);
    return id;
}

ViFindList SessionTable::AddFindList(ViSession rm, std::shared_ptr<FindList> list) {
    std::lock_guard lock(m_mutex);
    const auto manager = m_managers.find(rm);
    if (manager == m_managers.end())
        return 0;
    const ViFindList id = NextId();
    m_findLists[id] = std::move(list);
    manager->second->findLists.push_back(id);
    return id;
}

ViSession SessionTable::AddForwarded(ViSession rm, std::shared_ptr<ForwardedSession> session) {
    std::lock_guard lock(m_mutex);
    const auto manager = m_managers.find(rm);
    if (manager == m_managers.end())
        return 0;
    const ViSession id = NextId();
    m_forwarded[id] = std::move(session);
    manager->second->forwarded.push_back(id);
    return id;
}

bool SessionTable::SetLibrary(ViSession rm, std::shared_ptr<LibraryLink> library) {
    std::shared_ptr<LibraryLink> previous; // released after the lock is dropped
    std::lock_guard lock(m_mutex);
    const auto manager = m_managers.find(rm);
    if (manager == m_managers.end())
        return false;
    previous = std::exchange(manager->second->library, std::move(library));
    return true;
}

std::shared_ptr<LibraryLink> SessionTable::LibraryOf(ViSession rm) {
    std::lock_guard lock(m_mutex);
    const auto manager = m_managers.find(rm);
    return manager == m_managers.end() ? nullptr : manager->second->library;
}

bool SessionTable::Remove(ViObject id) {
    std::vector<std::shared_ptr<Instrument>> closing;
    std::shared_ptr<ResourceManager> manager;
    // Declared last, so released first: the library's resource manager (kept
    // by the manager's link) outlives the sessions it opened.
    std::vector<std::shared_ptr<ForwardedSession>> forwarded;
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_forwarded.find(id); it != m_forwarded.end()) {
            forwarded.push_back(it->second);
            if (const auto rm = m_managers.find(it->second->resourceManager);
                rm != m_managers.end())
                std::erase(rm->second->forwarded, id);
            m_forwarded.erase(it);
        } else if (const auto it = m_instruments.find(id); it != m_instruments.end()) {
            closing.push_back(it->second);
            if (const auto rm = m_managers.find(it->second->resourceManager);
                rm != m_managers.end())
                std::erase(rm->second->instruments, id);
            m_instruments.erase(it);
        } else if (m_findLists.erase(id) > 0) {
            for (auto& [rmId, rm] : m_managers)
                std::erase(rm->findLists, id);
        } else if (const auto rm = m_managers.find(id); rm != m_managers.end()) {
            manager = rm->second;
            for (ViSession child : manager->instruments)
                if (const auto c = m_instruments.find(child); c != m_instruments.end()) {
                    closing.push_back(c->second);
                    m_instruments.erase(c);
                }
            for (ViSession child : manager->forwarded)
                if (const auto c = m_forwarded.find(child); c != m_forwarded.end()) {
                    forwarded.push_back(c->second);
                    m_forwarded.erase(c);
                }
            for (ViFindList list : manager->findLists)
                m_findLists.erase(list);
            m_managers.erase(rm);
        } else {
            return false;
        }
    }
    if (manager)
        manager->findCancelled = true;
    for (auto& instrument : closing) {
        instrument->closed = true;
        // A call under way is interrupted and waited for; then the session
        // is closed as usual (a VXI-11 link destroyed, not just dropped).
        std::unique_lock busy(instrument->mutex, std::try_to_lock);
        if (!busy.owns_lock()) {
            instrument->session.Progress().Interrupt();
            busy.lock();
            instrument->session.Progress().Resume();
        }
    }
    return true;
}

bool SessionTable::InUse(ViObject id) const {
    return m_managers.count(id) || m_instruments.count(id) || m_findLists.count(id) ||
           m_forwarded.count(id);
}

ViObject SessionTable::NextId() {
    // Never 0 (VI_NULL); skips ids still in use after wrapping.
    do {
        m_next = m_next == 0x7FFFFFFF ? 1 : m_next + 1;
    } while (InUse(m_next));
    return m_next;
}

SessionTable& Table() {
    static SessionTable table;
    return table;
}

void CopyOut(const std::string& text, ViChar* out) {
    const std::size_t n = std::min<std::size_t>(text.size(), VI_FIND_BUFLEN - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

} // namespace quarvel::visa
