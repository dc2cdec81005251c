// The VISA entry points for sessions and unformatted I/O: resource managers,
// opening and closing, reads and writes, the formatted buffers' sizes and
// raw access, status byte, device clear and locks.

#include "visa/visa.h"
#include "visa/visa_internal.h"

#include "visa/backend.h"
#include "visa/library_open.h"
#include "visa/session_table.h"
#include "visa/transport_table.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using quarvel::visa::Instrument;
using quarvel::visa::ResourceName;
using quarvel::visa::Session;
using quarvel::visa::SessionSettings;
using quarvel::visa::Table;
using quarvel::visa::TransportRow;
using quarvel::visa::WithInstrument;

namespace {

constexpr ViUInt32 kDefaultTimeoutMs = 2000;
constexpr ViUInt16 kDefaultPortmapperPort = 111;

// The portmapper port new resource managers use: QUARVEL_PORTMAPPER_PORT when
// it holds a port number (programs such as PyVISA cannot set our attribute),
// otherwise 111.
ViUInt16 DefaultPortmapperPort() {
    const char* text = std::getenv("QUARVEL_PORTMAPPER_PORT");
    if (text == nullptr)
        return kDefaultPortmapperPort;
    unsigned port = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, ec] = std::from_chars(text, end, port);
    if (ec != std::errc() || stop != end || port == 0 || port > 0xFFFF)
        return kDefaultPortmapperPort;
    return static_cast<ViUInt16>(port);
}

// The ways new resource managers look for instruments: QUARVEL_DISCOVERY
// when set. A variable that names no known method with a name it does not
// know leaves none rather than all, so a mistyped limit never widens the
// search (to a broadcast, say).
unsigned DefaultDiscoveryMethods() {
    const char* text = std::getenv("QUARVEL_DISCOVERY");
    if (text == nullptr)
        return quarvel::visa::kAllDiscoveryMethods;
    unsigned methods = 0;
    return quarvel::visa::ParseDiscoveryMethods(text, methods) ? methods : 0u;
}

ViStatus TakeLock(Instrument& instrument, ViUInt32 timeoutMs) {
    if (instrument.lockCount > 0) {
        ++instrument.lockCount;
        return VI_SUCCESS_NESTED_EXCLUSIVE;
    }
    Session& session = instrument.session;
    if (const ViStatus s = session.Transport().Lock(session.Settings(), timeoutMs); s != VI_SUCCESS)
        return s;
    instrument.lockCount = 1;
    return VI_SUCCESS;
}

// viReadSTB on a transport without a status-byte service: the IEEE 488.2
// "*STB?" query, whose reply is the status byte as a decimal number.
ViStatus QueryStatusByte(Session& session, ViUInt16& stb) {
    static constexpr char kQuery[] = "*STB?\n";
    if (const ViStatus s = session.WriteMessage(reinterpret_cast<const std::uint8_t*>(kQuery),
                                                sizeof kQuery - 1, true);
        s != VI_SUCCESS)
        return s;
    char reply[64];
    std::size_t got = 0;
    const ViStatus s =
        session.ReadMessage(reinterpret_cast<std::uint8_t*>(reply), sizeof reply, got);
    if (s == VI_SUCCESS_MAX_CNT) {
        session.FlushRead();
        return VI_ERROR_IO;
    }
    if (s != VI_SUCCESS && s != VI_SUCCESS_TERM_CHAR)
        return s;
    const char* p = reply;
    const char* end = reply + got;
    while (p < end && (*p == ' ' || *p == '+'))
        ++p;
    unsigned value = 0;
    const auto [stop, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || value > 0xFF)
        return VI_ERROR_IO;
    for (const char* q = stop; q < end; ++q)
        if (*q != '\n' && *q != '\r' && *q != ' ')
            return VI_ERROR_IO;
    stb = static_cast<ViUInt16>(value);
    return VI_SUCCESS;
}

// The frame of viRead, viWrite, viBufRead and viBufWrite: the returned count
// cleared first, the buffer checked, then set to the bytes moved (also when
// the transfer failed part-way, as the standard asks for reads).
template <typename Transfer>
ViStatus CountedTransfer(ViSession vi, const void* buf, ViUInt32 cnt, ViPUInt32 retCnt,
                         Transfer&& transfer) {
    if (retCnt)
        *retCnt = 0;
    if (buf == nullptr && cnt > 0)
        return VI_ERROR_USER_BUF;
    return WithInstrument(vi, [&](Instrument& instrument) {
        std::size_t moved = 0;
        const ViStatus s = transfer(instrument, moved);
        if (retCnt)
            *retCnt = static_cast<ViUInt32>(moved);
        return s;
    });
}

} // namespace

ViStatus viOpenDefaultRM(ViPSession vi) {
    if (vi == nullptr)
        return VI_ERROR_INV_PARAMETER;
    SessionSettings settings;
    settings.timeoutMs = kDefaultTimeoutMs;
    settings.portmapperPort = DefaultPortmapperPort();
    settings.discoveryMethods = DefaultDiscoveryMethods();
    quarvel::visa::iolog::StartFromEnvironment();
    *vi = Table().AddResourceManager(settings);
    return VI_SUCCESS;
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViPSession vi) {
    if (vi == nullptr)
        return VI_ERROR_INV_PARAMETER;
    *vi = VI_NULL;
    const auto manager = Table().FindManager(sesn);
    if (!manager)
        return VI_ERROR_INV_OBJECT;
    if ((mode & ~(VI_EXCLUSIVE_LOCK | VI_LOAD_CONFIG)) != 0)
        return VI_ERROR_INV_ACC_MODE;
    if (name == nullptr)
        return VI_ERROR_INV_RSRC_NAME;
    ResourceName parsed;
    TransportRow row{};
    const ViStatus parseStatus = quarvel::visa::ParseResourceName(name, parsed, &row);
    if (const auto link = Table().LibraryOf(sesn); link && link->Takes(parseStatus))
        return quarvel::visa::OpenThroughLibrary(sesn, link, manager->settings.timeoutMs, name,
                                                 mode, timeout, vi);
    if (parseStatus != VI_SUCCESS)
        return quarvel::visa::IsForeignInterface(name) ? VI_ERROR_LIBRARY_NFOUND : parseStatus;
    // Finding the device is bounded by the session timeout, which the new
    // session inherits from its resource manager; the open timeout bounds
    // only the wait for a lock.
    const SessionSettings settings = manager->settings;
    std::unique_ptr<quarvel::visa::ITransport> transport;
    const auto openStart = quarvel::visa::iolog::Clock::now();
    if (const ViStatus s = row.open(parsed, settings, transport); s != VI_SUCCESS) {
        quarvel::visa::iolog::Note({VI_NULL, name}, quarvel::visa::iolog::Op::Open, openStart, s);
        return s;
    }
    auto instrument = std::make_shared<Instrument>(std::move(transport), settings, sesn);
    Instrument& opened = *instrument;
    instrument->name = std::move(parsed);
    instrument->interfaceCode = row.form->interfaceCode;
    if (mode & VI_EXCLUSIVE_LOCK)
        if (const ViStatus s = TakeLock(*instrument, timeout); s != VI_SUCCESS)
            return s;
    const ViSession id = Table().AddInstrument(sesn, std::move(instrument));
    if (id == 0)
        return VI_ERROR_INV_OBJECT;
    // The handle is not known before the table has the session, nor used by
    // anyone else before viOpen returns it.
    opened.session.SetLogSubject({id, name});
    quarvel::visa::iolog::Note(opened.session.LogSubject(), quarvel::visa::iolog::Op::Open,
                               openStart, VI_SUCCESS);
    *vi = id;
    return VI_SUCCESS;
}

ViStatus viClose(ViObject vi) {
    if (vi == VI_NULL)
        return VI_WARN_NULL_OBJECT;
    if (quarvel::visa::iolog::Running())
        if (const auto instrument = Table().FindInstrument(vi)) {
            const auto start = quarvel::visa::iolog::Clock::now();
            const quarvel::visa::iolog::Subject subject = instrument->session.LogSubject();
            const bool removed = Table().Remove(vi);
            quarvel::visa::iolog::Note(subject, quarvel::visa::iolog::Op::Close, start,
                                       removed ? VI_SUCCESS : VI_ERROR_INV_OBJECT);
            return removed ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
        }
    return Table().Remove(vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

namespace quarvel::visa::builtin {

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    return CountedTransfer(vi, buf, cnt, retCnt, [&](Instrument& instrument, std::size_t& moved) {
        return instrument.session.ReadMessage(buf, cnt, moved);
    });
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    return CountedTransfer(vi, buf, cnt, retCnt, [&](Instrument& instrument, std::size_t& moved) {
        const ViStatus s = instrument.session.WriteMessage(buf, cnt, instrument.sendEnd);
        moved = s == VI_SUCCESS ? cnt : 0;
        return s;
    });
}

ViStatus viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    return CountedTransfer(vi, buf, cnt, retCnt, [&](Instrument& instrument, std::size_t& moved) {
        return instrument.session.ReadBuffered(buf, cnt, moved);
    });
}

ViStatus viBufWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    return CountedTransfer(vi, buf, cnt, retCnt, [&](Instrument& instrument, std::size_t& moved) {
        const ViStatus s = instrument.session.Put(reinterpret_cast<const char*>(buf), cnt);
        moved = s == VI_SUCCESS ? cnt : 0;
        return s;
    });
}

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
    constexpr ViUInt16 kKnown = VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF;
    if (mask == 0 || (mask & ~kKnown) != 0)
        return VI_ERROR_INV_MASK;
    return WithInstrument(vi, [&](Instrument& instrument) {
        ViStatus status = VI_SUCCESS;
        if (mask & VI_WRITE_BUF)
            status = instrument.session.SetWriteBufferSize(size);
        if ((mask & VI_READ_BUF) && status == VI_SUCCESS)
            status = instrument.session.SetReadBufferSize(size);
        // VI_IO_IN_BUF/VI_IO_OUT_BUF: the transports keep no low-level
        // buffers of a settable size, so there is nothing to set.
        return status;
    });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
    constexpr ViUInt16 kKnown = 0xFF;
    if (mask == 0 || (mask & ~kKnown) != 0 ||
        ((mask & VI_READ_BUF) && (mask & VI_READ_BUF_DISCARD)) ||
        ((mask & VI_WRITE_BUF) && (mask & VI_WRITE_BUF_DISCARD)))
        return VI_ERROR_INV_MASK;
    return WithInstrument(vi, [&](Instrument& instrument) {
        Session& session = instrument.session;
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

ViStatus qviEndOfReplyData(ViSession vi) {
    return WithInstrument(vi, [](Instrument& instrument) {
        instrument.session.EndOfReplyData();
        return VI_SUCCESS;
    });
}

ViStatus qviExpectReplyData(ViSession vi, ViUInt64 remaining) {
    return WithInstrument(vi, [&](Instrument& instrument) {
        instrument.session.ExpectRemainingData(remaining);
        return VI_SUCCESS;
    });
}

ViStatus viClear(ViSession vi) {
    return WithInstrument(vi, [](Instrument& instrument) { return instrument.session.Clear(); });
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
    if (status == nullptr)
        return VI_ERROR_INV_PARAMETER;
    return WithInstrument(vi, [&](Instrument& instrument) {
        Session& session = instrument.session;
        ViUInt16 stb = 0;
        const auto start = quarvel::visa::iolog::Clock::now();
        ViStatus s = session.Transport().ReadStatusByte(session.Settings(), stb);
        if (s != VI_ERROR_NSUP_OPER)
            quarvel::visa::iolog::Note(session.LogSubject(), quarvel::visa::iolog::Op::StatusByte,
                                       start, s);
        if (s == VI_ERROR_NSUP_OPER)
            s = QueryStatusByte(session, stb);
        if (s == VI_SUCCESS)
            *status = stb;
        return s;
    });
}

ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout,
                ViConstKeyId /*requestedKey*/, ViChar accessKey[]) {
    if (accessKey != nullptr)
        accessKey[0] = '\0';
    if (lockType == VI_SHARED_LOCK)
        return Table().FindInstrument(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
    if (lockType != VI_EXCLUSIVE_LOCK)
        return VI_ERROR_INV_LOCK_TYPE;
    return WithInstrument(vi,
                          [&](Instrument& instrument) { return TakeLock(instrument, timeout); });
}

ViStatus viUnlock(ViSession vi) {
    return WithInstrument(vi, [&](Instrument& instrument) {
        if (instrument.lockCount == 0)
            return VI_ERROR_SESN_NLOCKED;
        if (--instrument.lockCount > 0)
            return VI_SUCCESS_NESTED_EXCLUSIVE;
        Session& session = instrument.session;
        return session.Transport().Unlock(session.Settings());
    });
}

ViStatus qviSetProgressHandler(ViSession vi, QviProgressHandler handler, ViAddr userData) {
    return WithInstrument(vi, [&](Instrument& instrument) {
        instrument.session.Progress().SetHandler(vi, handler, userData);
        return VI_SUCCESS;
    });
}

ViStatus qviGetProgressHandler(ViSession vi, QviProgressHandler* handler, ViAddr* userData) {
    if (handler == nullptr || userData == nullptr)
        return VI_ERROR_USER_BUF;
    return WithInstrument(vi, [&](Instrument& instrument) {
        *handler = instrument.session.Progress().Handler();
        *userData = instrument.session.Progress().UserData();
        return VI_SUCCESS;
    });
}

} // namespace quarvel::visa::builtin

ViStatus qviGetLastFailure(ViSession vi, QviLastFailure* failure) {
    if (failure == nullptr)
        return VI_ERROR_INV_PARAMETER;
    *failure = QviLastFailure{};
    const auto instrument = Table().FindInstrument(vi);
    if (!instrument)
        return VI_ERROR_INV_OBJECT;
    std::lock_guard lock(instrument->mutex);
    const Session::Failure& last = instrument->session.LastFailure();
    failure->status = last.status;
    failure->reading = last.reading ? VI_TRUE : VI_FALSE;
    failure->waitedMs = last.waitedMs;
    failure->bytesRead = last.bytesRead;
    std::snprintf(failure->command, sizeof failure->command, "%s", last.command.c_str());
    return VI_SUCCESS;
}

ViStatus qviClearLastFailure(ViSession vi) {
    const auto instrument = Table().FindInstrument(vi);
    if (!instrument)
        return VI_ERROR_INV_OBJECT;
    std::lock_guard lock(instrument->mutex);
    instrument->session.ClearLastFailure();
    return VI_SUCCESS;
}
