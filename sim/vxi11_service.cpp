#include "sim/vxi11_service.h"

#include "sim/rpc_server.h"

#include <algorithm>
#include <atomic>

namespace quarvel::sim {

namespace rpc = visa::rpc;
using Clock = std::chrono::steady_clock;

namespace {

// Procedures answered with a plain Device_Error after checking the link:
// trigger, remote, local.
constexpr std::uint32_t kLinkOnlyProcs[] = {14, 16, 17};
// How often a call waiting for the lock looks again.
constexpr int kLockPollMs = 5;
// enable_srq, docmd, create_intr_chan, destroy_intr_chan: not supported.
constexpr std::uint32_t kUnsupportedProcs[] = {20, 22, 25, 26};

bool Contains(const std::uint32_t (&list)[4], std::uint32_t v) {
    return std::find(std::begin(list), std::end(list), v) != std::end(list);
}
bool Contains(const std::uint32_t (&list)[3], std::uint32_t v) {
    return std::find(std::begin(list), std::end(list), v) != std::end(list);
}

} // namespace

Vxi11Service::Vxi11Service(SimInstrument& instrument, Transcript* transcript,
                           const FaultOptions& faults, std::uint32_t abortPort)
    : m_instrument(instrument), m_transcript(transcript), m_faults(faults), m_abortPort(abortPort),
      m_maxRecvSize(faults.maxRecvSize > 0 ? faults.maxRecvSize : kDefaultMaxRecvSize) {}

Vxi11Service::Link* Vxi11Service::FindLink(Vxi11Connection& c, std::int32_t id) {
    const auto it = c.m_links.find(id);
    return it == c.m_links.end() ? nullptr : it->second.get();
}

void Vxi11Service::CreateLink(rpc::XdrReader& in, Vxi11Connection& c, rpc::Bytes& out) {
    rpc::CreateLinkParms parms;
    rpc::CreateLinkResp resp;
    if (!rpc::Decode(in, parms))
        return;
    if (c.m_links.size() >= Vxi11Connection::kMaxLinks) {
        resp.error = rpc::VXI11_OUT_OF_RESOURCES;
    } else {
        resp.linkId = m_nextLinkId++;
        c.m_links.emplace(resp.linkId,
                          std::make_unique<Link>(Session(m_instrument, m_transcript, m_faults)));
        resp.abortPort = m_abortPort;
        resp.maxRecvSize = m_maxRecvSize;
    }
    rpc::Encode(out, resp);
}

bool Vxi11Service::MayAccess(std::int32_t linkId, std::int32_t flags, std::uint32_t lockTimeout,
                             const Sleeper& sleep) {
    const auto free = [&] {
        const std::int32_t owner = m_lockOwner.load();
        return owner == 0 || owner == linkId;
    };
    if (free())
        return true;
    if ((flags & rpc::kVxi11FlagWaitLock) == 0)
        return false;
    // Counted in sleeps rather than read from the clock, so a sleeper that
    // does not wait (the fuzzer's) still ends.
    const std::uint32_t limit = std::min(lockTimeout, kMaxWaitMs);
    for (std::uint32_t waited = 0; waited < limit; waited += kLockPollMs)
        if (!sleep(kLockPollMs) || free())
            return free();
    return false;
}

void Vxi11Service::DeviceLock(rpc::XdrReader& in, Vxi11Connection& c, const Sleeper& sleep,
                              rpc::Bytes& out) {
    rpc::DeviceLockParms parms;
    if (!rpc::Decode(in, parms))
        return;
    rpc::DeviceError resp;
    if (FindLink(c, parms.linkId) == nullptr) {
        resp.error = rpc::VXI11_INVALID_LINK;
    } else {
        bool taken = false;
        while (!taken && MayAccess(parms.linkId, parms.flags, parms.lockTimeout, sleep)) {
            std::int32_t expected = 0;
            taken = m_lockOwner.compare_exchange_strong(expected, parms.linkId) ||
                    expected == parms.linkId;
        }
        if (!taken)
            resp.error = rpc::VXI11_DEVICE_LOCKED;
    }
    rpc::Encode(out, resp);
}

void Vxi11Service::ReleaseLock(std::int32_t linkId) {
    std::int32_t expected = linkId;
    m_lockOwner.compare_exchange_strong(expected, 0);
}

void Vxi11Service::CloseConnection(Vxi11Connection& connection) {
    for (const auto& [id, link] : connection.m_links)
        ReleaseLock(id);
    connection.m_links.clear();
}

void Vxi11Service::DeviceWrite(rpc::XdrReader& in, Vxi11Connection& c, const Sleeper& sleep,
                               rpc::Bytes& out) {
    rpc::DeviceWriteParms parms;
    if (!rpc::Decode(in, parms))
        return;
    rpc::DeviceWriteResp resp;
    Link* link = FindLink(c, parms.linkId);
    if (link == nullptr) {
        resp.error = rpc::VXI11_INVALID_LINK;
    } else if (!MayAccess(parms.linkId, parms.flags, parms.lockTimeout, sleep)) {
        resp.error = rpc::VXI11_DEVICE_LOCKED;
    } else {
        const std::string_view data(reinterpret_cast<const char*>(parms.data.data()),
                                    parms.data.size());
        for (OutgoingReply& reply :
             link->session.Feed(data, (parms.flags & rpc::kVxi11FlagEnd) != 0)) {
            Vxi11Connection::Pending p;
            p.readyAt = Clock::now() + std::chrono::milliseconds(reply.delayMs);
            p.reply = std::move(reply);
            link->pendingBytes += p.reply.bytes.size();
            link->pending.push_back(std::move(p));
        }
        // A client that never reads must not make us hold its replies for ever.
        while (link->pendingBytes > kMaxPendingBytes && link->pending.size() > 1) {
            link->pendingBytes -= link->pending.front().reply.bytes.size();
            link->pending.pop_front();
        }
        resp.size = static_cast<std::uint32_t>(parms.data.size());
    }
    rpc::Encode(out, resp);
}

rpc::Bytes Vxi11Service::Outcome::Joined() const {
    rpc::Bytes all;
    all.reserve(Size());
    all.insert(all.end(), reply.begin(), reply.end());
    all.insert(all.end(), body.begin(), body.end());
    all.insert(all.end(), Padding(), 0);
    return all;
}

bool Vxi11Service::DeviceRead(rpc::XdrReader& in, Vxi11Connection& c, const Sleeper& sleep,
                              Outcome& outcome) {
    rpc::Bytes& out = outcome.reply;
    rpc::DeviceReadParms parms;
    if (!rpc::Decode(in, parms))
        return false;
    rpc::DeviceReadResp resp;
    Link* link = FindLink(c, parms.linkId);
    if (link == nullptr) {
        resp.error = rpc::VXI11_INVALID_LINK;
        rpc::Encode(out, resp);
        return false;
    }
    if (!MayAccess(parms.linkId, parms.flags, parms.lockTimeout, sleep)) {
        resp.error = rpc::VXI11_DEVICE_LOCKED;
        rpc::Encode(out, resp);
        return false;
    }
    const int timeoutMs = static_cast<int>(std::min(parms.ioTimeout, kMaxWaitMs));
    if (link->pending.empty()) {
        sleep(timeoutMs);
        resp.error = rpc::VXI11_IO_TIMEOUT;
        rpc::Encode(out, resp);
        return false;
    }
    Vxi11Connection::Pending& p = link->pending.front();
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(p.readyAt - Clock::now()).count();
    if (wait > 0) {
        if (wait > timeoutMs || !sleep(static_cast<int>(wait))) {
            if (wait > timeoutMs)
                sleep(timeoutMs);
            resp.error = rpc::VXI11_IO_TIMEOUT;
            rpc::Encode(out, resp);
            return false;
        }
    }
    const std::string& bytes = p.reply.bytes;
    const bool drop = p.reply.dropAfter != std::string::npos;
    const std::size_t end = drop ? std::min(p.reply.dropAfter, bytes.size()) : bytes.size();
    std::size_t count = std::min<std::size_t>(end - p.offset, parms.requestSize);
    if ((parms.flags & rpc::kVxi11FlagTermCharSet) != 0) {
        const std::size_t term = bytes.find(static_cast<char>(parms.termChar), p.offset);
        if (term != std::string::npos && term < p.offset + count) {
            count = term + 1 - p.offset;
            resp.reason |= rpc::kVxi11ReasonTermChar;
        }
    }
    const std::size_t start = p.offset;
    p.offset += count;
    bool close = false;
    if (drop && p.offset >= end) {
        close = true;
    } else if (p.offset >= bytes.size()) {
        resp.reason |= rpc::kVxi11ReasonEnd;
    } else if (count == parms.requestSize) {
        resp.reason |= rpc::kVxi11ReasonRequestCount;
    }
    resp.data = rpc::ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()) + start, count);
    rpc::EncodeDeviceReadRespHead(out, resp);
    if (close || p.offset >= bytes.size()) {
        // The response leaves the queue; the reply's data stays with it.
        link->pendingBytes -= bytes.size();
        outcome.held = std::move(p.reply.bytes);
        link->pending.pop_front();
        outcome.body = rpc::ByteView(
            reinterpret_cast<const std::uint8_t*>(outcome.held.data()) + start, count);
    } else {
        outcome.body = resp.data;
    }
    return close;
}

void Vxi11Service::HandleCall(rpc::ByteView call, Vxi11Connection& connection, const Sleeper& sleep,
                              Outcome& outcome) {
    outcome.reply.clear();
    outcome.body = {};
    outcome.held.clear();
    outcome.close = false;
    rpc::XdrReader in(call);
    rpc::CallHeader header;
    if (!rpc::DecodeCallHeader(in, header))
        return;
    rpc::Bytes& out = outcome.reply;
    if (!AdmitCall(header, rpc::kVxi11CoreProgram, rpc::kVxi11CoreVersion, out))
        return;

    // The results go straight behind the header (bulk read data is not
    // copied at all, see Outcome); a call whose arguments do not decode is
    // answered GARBAGE_ARGS instead.
    EncodeAcceptedReply(out, header.xid, rpc::ACCEPT_SUCCESS);
    rpc::Bytes& results = out;
    switch (header.procedure) {
    case rpc::VXI11_CREATE_LINK:
        CreateLink(in, connection, results);
        break;
    case rpc::VXI11_DEVICE_WRITE:
        DeviceWrite(in, connection, sleep, results);
        break;
    case rpc::VXI11_DEVICE_READ:
        outcome.close = DeviceRead(in, connection, sleep, outcome);
        break;
    case rpc::VXI11_DEVICE_READSTB: {
        rpc::DeviceGenericParms parms;
        if (!rpc::Decode(in, parms))
            break;
        rpc::DeviceReadStbResp resp;
        Link* link = FindLink(connection, parms.linkId);
        if (link == nullptr)
            resp.error = rpc::VXI11_INVALID_LINK;
        else
            resp.stb = m_instrument.StatusByte(!link->pending.empty());
        rpc::Encode(results, resp);
        break;
    }
    case rpc::VXI11_DEVICE_CLEAR: {
        rpc::DeviceGenericParms parms;
        if (!rpc::Decode(in, parms))
            break;
        rpc::DeviceError resp;
        Link* link = FindLink(connection, parms.linkId);
        if (link == nullptr) {
            resp.error = rpc::VXI11_INVALID_LINK;
        } else {
            link->pending.clear();
            link->pendingBytes = 0;
            link->session.Clear();
        }
        rpc::Encode(results, resp);
        break;
    }
    case rpc::VXI11_DEVICE_LOCK:
        DeviceLock(in, connection, sleep, results);
        break;
    case rpc::VXI11_DEVICE_UNLOCK: {
        rpc::DeviceLink parms;
        if (!rpc::Decode(in, parms))
            break;
        rpc::DeviceError resp;
        if (FindLink(connection, parms.linkId) == nullptr) {
            resp.error = rpc::VXI11_INVALID_LINK;
        } else {
            std::int32_t expected = parms.linkId;
            if (!m_lockOwner.compare_exchange_strong(expected, 0))
                resp.error = rpc::VXI11_NO_LOCK_HELD;
        }
        rpc::Encode(results, resp);
        break;
    }
    case rpc::VXI11_DESTROY_LINK: {
        rpc::DeviceLink parms;
        if (!rpc::Decode(in, parms))
            break;
        rpc::DeviceError resp;
        if (connection.m_links.erase(parms.linkId) == 0)
            resp.error = rpc::VXI11_INVALID_LINK;
        else
            ReleaseLock(parms.linkId);
        rpc::Encode(results, resp);
        break;
    }
    default: {
        rpc::DeviceError resp;
        if (Contains(kLinkOnlyProcs, header.procedure)) {
            std::int32_t linkId = 0;
            if (!in.GetInt32(linkId))
                break;
            if (FindLink(connection, linkId) == nullptr)
                resp.error = rpc::VXI11_INVALID_LINK;
        } else if (Contains(kUnsupportedProcs, header.procedure)) {
            resp.error = rpc::VXI11_OPERATION_NOT_SUPPORTED;
        } else {
            out.clear();
            EncodeAcceptedReply(out, header.xid, rpc::PROC_UNAVAIL);
            return;
        }
        rpc::Encode(results, resp);
        break;
    }
    }
    if (!in.Ok()) {
        out.clear();
        outcome.body = {};
        EncodeAcceptedReply(out, header.xid, rpc::GARBAGE_ARGS);
        outcome.close = false;
    }
}

} // namespace quarvel::sim
