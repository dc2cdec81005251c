// The VISA functions of visa/visa.h: the session table (resource managers
// and instrument sessions) and the entry points, which hand the work to the
// session, the formatted I/O engine and the transports.

#include "visa/visa.h"

#include "visa/formatted_io.h"
#include "visa/resource_name.h"
#include "visa/session.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

using quarvel::visa::FormatArgs;
using quarvel::visa::ResourceName;
using quarvel::visa::Session;
using quarvel::visa::SessionSettings;
using quarvel::visa::TransportRow;

namespace {

constexpr ViUInt32 kDefaultTimeoutMs = 2000;
constexpr ViUInt16 kDefaultPortmapperPort = 111;

struct ResourceManager {
    SessionSettings settings{kDefaultTimeoutMs, kDefaultPortmapperPort};
    std::vector<ViSession> instruments;
};

struct Instrument {
    Instrument(std::unique_ptr<quarvel::visa::ITransport> transport,
               const SessionSettings& settings, ViSession rm)
        : session(std::move(transport), settings), resourceManager(rm) {}
    // One call at a time per session.
    std::mutex mutex;
    Session session;
    ViSession resourceManager;
};

class SessionTable {
public:
    ViSession AddResourceManager() {
        std::lock_guard lock(m_mutex);
        const ViSession id = NextId();
        m_managers[id] = std::make_shared<ResourceManager>();
        return id;
    }

    std::shared_ptr<ResourceManager> FindManager(ViObject id) {
        std::lock_guard lock(m_mutex);
        const auto it = m_managers.find(id);
        return it == m_managers.end() ? nullptr : it->second;
    }

    std::shared_ptr<Instrument> FindInstrument(ViObject id) {
        std::lock_guard lock(m_mutex);
        const auto it = m_instruments.find(id);
        return it == m_instruments.end() ? nullptr : it->second;
    }

    // 0 when the resource manager has gone meanwhile.
    ViSession AddInstrument(ViSession rm, std::shared_ptr<Instrument> instrument) {
        std::lock_guard lock(m_mutex);
        const auto manager = m_managers.find(rm);
        if (manager == m_managers.end())
            return 0;
        const ViSession id = NextId();
        m_instruments[id] = std::move(instrument);
        manager->second->instruments.push_back(id);
        return id;
    }

    // Removes a session (a resource manager with all its instruments). The
    // objects are released after the lock is dropped: closing a VXI-11 link
    // talks to the device.
    bool Remove(ViObject id) {
        std::vector<std::shared_ptr<Instrument>> closing;
        std::shared_ptr<ResourceManager> manager;
        {
            std::lock_guard lock(m_mutex);
            if (const auto it = m_instruments.find(id); it != m_instruments.end()) {
                closing.push_back(it->second);
                if (const auto rm = m_managers.find(it->second->resourceManager);
                    rm != m_managers.end())
                    std::erase(rm->second->instruments, id);
                m_instruments.erase(it);
            } else if (const auto rm = m_managers.find(id); rm != m_managers.end()) {
                manager = rm->second;
                for (ViSession child : manager->instruments)
                    if (const auto c = m_instruments.find(child); c != m_instruments.end()) {
                        closing.push_back(c->second);
                        m_instruments.erase(c);
                    }
                m_managers.erase(rm);
            } else {
                return false;
            }
        }
        for (auto& instrument : closing) {
            std::lock_guard busy(instrument->mutex); // wait for a call under way
        }
        return true;
    }

private:
    ViSession NextId() {
        // Never 0 (VI_NULL); skips ids still in use after wrapping.
        do {
            m_next = m_next == 0x7FFFFFFF ? 1 : m_next + 1;
        } while (m_managers.count(m_next) || m_instruments.count(m_next));
        return m_next;
    }

    std::mutex m_mutex;
    ViSession m_next = 0x100;
    std::unordered_map<ViSession, std::shared_ptr<ResourceManager>> m_managers;
    std::unordered_map<ViSession, std::shared_ptr<Instrument>> m_instruments;
};

SessionTable& Table() {
    static SessionTable table;
    return table;
}

// Runs work on an instrument session, one call at a time.
template <typename Work> ViStatus WithInstrument(ViSession vi, Work&& work) {
    const auto instrument = Table().FindInstrument(vi);
    if (!instrument)
        return VI_ERROR_INV_OBJECT;
    std::lock_guard lock(instrument->mutex);
    instrument->session.BeginCall();
    return work(instrument->session);
}

// Runs formatted I/O on an instrument session with its own copy of the
// caller's argument list, which is ended again whatever the work returns.
template <typename Work> ViStatus WithFormatArgs(ViSession vi, va_list params, Work&& work) {
    return WithInstrument(vi, [&](Session& session) {
        FormatArgs args;
        va_copy(args.list, params);
        const ViStatus s = work(session, args);
        va_end(args.list);
        return s;
    });
}

} // namespace

ViStatus viOpenDefaultRM(ViPSession vi) {
    if (vi == nullptr)
        return VI_ERROR_INV_PARAMETER;
    *vi = Table().AddResourceManager();
    return VI_SUCCESS;
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode /*mode*/, ViUInt32 /*timeout*/,
                ViPSession vi) {
    if (vi == nullptr)
        return VI_ERROR_INV_PARAMETER;
    *vi = VI_NULL;
    const auto manager = Table().FindManager(sesn);
    if (!manager)
        return VI_ERROR_INV_OBJECT;
    if (name == nullptr)
        return VI_ERROR_INV_RSRC_NAME;
    ResourceName parsed;
    TransportRow row{};
    if (const ViStatus s = quarvel::visa::ParseResourceName(name, parsed, &row); s != VI_SUCCESS)
        return s;
    // The open timeout of the standard is for locks, which this layer does
    // not take; finding the device is bounded by the session timeout, which
    // the new session inherits from its resource manager.
    const SessionSettings settings = manager->settings;
    std::unique_ptr<quarvel::visa::ITransport> transport;
    if (const ViStatus s = row.open(parsed, settings, transport); s != VI_SUCCESS)
        return s;
    auto instrument = std::make_shared<Instrument>(std::move(transport), settings, sesn);
    const ViSession id = Table().AddInstrument(sesn, std::move(instrument));
    if (id == 0)
        return VI_ERROR_INV_OBJECT;
    *vi = id;
    return VI_SUCCESS;
}

ViStatus viClose(ViObject vi) {
    return Table().Remove(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
    if (attrValue == nullptr)
        return VI_ERROR_INV_PARAMETER;
    auto get = [&](const SessionSettings& settings) {
        switch (attrName) {
        case VI_ATTR_TMO_VALUE:
            *static_cast<ViUInt32*>(attrValue) = settings.timeoutMs;
            return VI_SUCCESS;
        case QVI_ATTR_PORTMAPPER_PORT:
            *static_cast<ViUInt16*>(attrValue) = settings.portmapperPort;
            return VI_SUCCESS;
        default:
            return VI_ERROR_NSUP_ATTR;
        }
    };
    if (const auto manager = Table().FindManager(vi))
        return get(manager->settings);
    return WithInstrument(vi, [&](Session& session) { return get(session.Settings()); });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    auto set = [&](SessionSettings& settings) {
        switch (attrName) {
        case VI_ATTR_TMO_VALUE:
            if (attrValue > VI_TMO_INFINITE)
                return VI_ERROR_NSUP_ATTR_STATE;
            settings.timeoutMs = static_cast<ViUInt32>(attrValue);
            return VI_SUCCESS;
        case QVI_ATTR_PORTMAPPER_PORT:
            if (attrValue == 0 || attrValue > 0xFFFF)
                return VI_ERROR_NSUP_ATTR_STATE;
            settings.portmapperPort = static_cast<ViUInt16>(attrValue);
            return VI_SUCCESS;
        default:
            return VI_ERROR_NSUP_ATTR;
        }
    };
    if (const auto manager = Table().FindManager(vi))
        return set(manager->settings);
    return WithInstrument(vi, [&](Session& session) { return set(session.Settings()); });
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt)
        *retCnt = 0;
    if (buf == nullptr && cnt > 0)
        return VI_ERROR_USER_BUF;
    return WithInstrument(vi, [&](Session& session) {
        std::size_t got = 0;
        const ViStatus s = session.ReadMessage(buf, cnt, got);
        if (retCnt)
            *retCnt = static_cast<ViUInt32>(got);
        return s;
    });
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt)
        *retCnt = 0;
    if (buf == nullptr && cnt > 0)
        return VI_ERROR_USER_BUF;
    return WithInstrument(vi, [&](Session& session) {
        const ViStatus s = session.WriteMessage(buf, cnt);
        if (s == VI_SUCCESS && retCnt)
            *retCnt = cnt;
        return s;
    });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
    constexpr ViUInt16 kKnown = 0xFF;
    if (mask == 0 || (mask & ~kKnown) != 0 ||
        ((mask & VI_READ_BUF) && (mask & VI_READ_BUF_DISCARD)) ||
        ((mask & VI_WRITE_BUF) && (mask & VI_WRITE_BUF_DISCARD)))
        return VI_ERROR_INV_MASK;
    return WithInstrument(vi, [&](Session& session) {
        ViStatus status = VI_SUCCESS;
        if (mask & VI_WRITE_BUF_DISCARD)
            session.DiscardWrite();
        if ((mask & VI_WRITE_BUF) && session.HasPendingWrite())
            status = session.FlushWrite(true);
        if (mask & VI_READ_BUF_DISCARD)
            session.DiscardRead();
        if (mask & VI_READ_BUF) {
            const ViStatus s = session.FlushRead();
            if (status == VI_SUCCESS)
                status = s;
        }
        // VI_IO_IN_BUF/VI_IO_OUT_BUF and their discard forms: this layer has
        // no low-level buffers beyond the formatted ones, so nothing to do.
        return status;
    });
}

ViStatus viClear(ViSession vi) {
    return WithInstrument(vi, [](Session& session) { return session.Clear(); });
}

ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, va_list params) {
    return WithFormatArgs(vi, params, [&](Session& session, FormatArgs& args) {
        return quarvel::visa::FormatWrite(session, writeFmt, args);
    });
}

ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...) {
    va_list params;
    va_start(params, writeFmt);
    const ViStatus s = viVPrintf(vi, writeFmt, params);
    va_end(params);
    return s;
}

ViStatus viVScanf(ViSession vi, ViConstString readFmt, va_list params) {
    return WithFormatArgs(vi, params, [&](Session& session, FormatArgs& args) {
        return quarvel::visa::FormatRead(session, readFmt, args);
    });
}

ViStatus viScanf(ViSession vi, ViConstString readFmt, ...) {
    va_list params;
    va_start(params, readFmt);
    const ViStatus s = viVScanf(vi, readFmt, params);
    va_end(params);
    return s;
}

ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, va_list params) {
    return WithFormatArgs(vi, params, [&](Session& session, FormatArgs& args) {
        ViStatus s = quarvel::visa::FormatWrite(session, writeFmt, args);
        // The query goes out before its reply is read.
        if (s == VI_SUCCESS && session.HasPendingWrite())
            s = session.FlushWrite(true);
        if (s == VI_SUCCESS)
            s = quarvel::visa::FormatRead(session, readFmt, args);
        return s;
    });
}

ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...) {
    va_list params;
    va_start(params, readFmt);
    const ViStatus s = viVQueryf(vi, writeFmt, readFmt, params);
    va_end(params);
    return s;
}
