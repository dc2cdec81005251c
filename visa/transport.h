#pragma once

// What every transport (VXI-11, HiSLIP, raw socket, USBTMC on this machine or
// over USB/IP) offers the session layer. A transport moves bytes and knows
// where a message ends; buffering and formatting live above it. (Sessions
// that a loaded VISA library serves do not go through a transport: see
// backend.h.)

#include "visa/discovery.h"
#include "visa/visa.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::visa {

// The moment a blocking call gives up; time_point::max() for no limit.
using Deadline = std::chrono::steady_clock::time_point;
Deadline DeadlineAfter(ViUInt32 timeoutMs);

// How a read may end before its count is filled.
enum class ReadMode {
    // Ends at the end of a message: END, or on transports without END the
    // line feed (the terminator of text replies).
    Message,
    // Binary data whose length is known above (block data): only END can end
    // it early; a transport without END returns whatever has arrived.
    Raw,
};

// Why a read returned.
enum class ReadEnd {
    None,     // more of the message follows (count filled, or Raw piece)
    End,      // the device signalled END: the message is complete
    TermChar, // the termination character ended it (VI_ATTR_TERMCHAR; on
              // transports without END always, over VXI-11 when enabled)
};

struct ReadResult {
    std::size_t count = 0;
    ReadEnd end = ReadEnd::None;
};

class ProgressMeter;

// Settings a transport needs when it opens and for each call.
struct SessionSettings {
    ViUInt32 timeoutMs = 2000;
    ViUInt16 portmapperPort = 111;
    // VI_ATTR_TERMCHAR and VI_ATTR_TERMCHAR_EN. A transport without END ends
    // text reads at the termination character whether enabled or not.
    std::uint8_t termChar = '\n';
    bool termCharEnabled = false;
    // VI_ATTR_SUPPRESS_END_EN: END does not end a read.
    bool suppressEnd = false;
    // USB/IP servers whose devices USB sessions look at, "host:port,..."
    // (QVI_ATTR_USBIP_SERVERS), besides those in QUARVEL_USBIP.
    std::string usbipServers;
    // viFindRsrc: the ways it looks (discovery.h; QVI_ATTR_DISCOVERY_METHODS,
    // QUARVEL_DISCOVERY), the hosts a probe asks besides those in
    // QUARVEL_PROBE (QVI_ATTR_PROBE_HOSTS), how long the LAN methods collect
    // answers (QVI_ATTR_DISCOVERY_TMO), and, while a search runs, where the
    // listers leave their notes.
    unsigned discoveryMethods = kAllDiscoveryMethods;
    std::string probeHosts;
    ViUInt32 discoveryMs = kDefaultDiscoveryMs;
    FindNotes* findNotes = nullptr;
    // Set (qviCancelFind) when the search under way is to end now.
    const std::atomic<bool>* findCancelled = nullptr;
    // The session's progress meter (see progress.h): transports hand it to
    // every socket call. When its handler cancels, the call returns
    // VI_ERROR_ABORT and the transport drops what is left of the message
    // (by reconnecting at its next call), so the next reply is the next
    // command's own.
    ProgressMeter* progress = nullptr;
};

// True when the search these settings belong to has been cancelled.
inline bool FindCancelled(const SessionSettings& settings) {
    return settings.findCancelled != nullptr && settings.findCancelled->load();
}

class ITransport {
public:
    virtual ~ITransport() = default;
    // Sends size bytes; endOfMessage asserts END after the last one (where the
    // transport can signal it).
    virtual ViStatus Write(const std::uint8_t* data, std::size_t size, bool endOfMessage,
                           const SessionSettings& settings) = 0;
    // Reads at least one byte and at most capacity bytes (unless an error or
    // the deadline comes first).
    virtual ViStatus Read(std::uint8_t* data, std::size_t capacity, ReadMode mode,
                          const SessionSettings& settings, ReadResult& result) = 0;
    // Bytes received but still held by the transport (not yet returned by Read).
    virtual std::size_t Buffered() const { return 0; }
    // Device clear (VXI-11 device_clear); drops what the transport buffered.
    virtual ViStatus Clear(const SessionSettings& settings) = 0;
    // viReadSTB: the device's status byte.
    virtual ViStatus ReadStatusByte(const SessionSettings& /*settings*/, ViUInt16& /*stb*/) {
        return VI_ERROR_NSUP_OPER;
    }
    // viLock/viUnlock of an exclusive lock held by the device (VXI-11
    // device_lock); transports without device-side locks lock only within
    // this library.
    virtual ViStatus Lock(const SessionSettings& /*settings*/, ViUInt32 /*timeoutMs*/) {
        return VI_SUCCESS;
    }
    virtual ViStatus Unlock(const SessionSettings& /*settings*/) { return VI_SUCCESS; }
    // Attributes only this kind of transport knows (the USB ones), written
    // in the type visa.h gives them.
    virtual ViStatus GetAttribute(ViAttr /*attribute*/, void* /*value*/) const {
        return VI_ERROR_NSUP_ATTR;
    }
    // Whether the device marks the end of each message (VXI-11 END); a raw
    // socket has only the line feed of text replies.
    virtual bool SignalsEnd() const = 0;
};

// The parsed form of a resource string (see resource_name.h).
struct ResourceName;

// Opens the transport for a parsed resource; on failure returns the status
// (VI_ERROR_RSRC_NFOUND for a host or device that does not answer).
using TransportFactory = ViStatus (*)(const ResourceName& name, const SessionSettings& settings,
                                      std::unique_ptr<ITransport>& transport);

// Appends the canonical names of the resources a transport can find
// (viFindRsrc), waiting at most until the deadline.
using ResourceLister = void (*)(const SessionSettings& settings, Deadline deadline,
                                std::vector<std::string>& found);

// What one transport offers the transport table (transport_table.h): the
// resource strings it takes (its form, resource_name.h), how it opens them
// and what it can find.
struct ResourceForm;
struct TransportRow {
    const ResourceForm* form;
    TransportFactory open;
    // What this transport can find for viFindRsrc; null when it finds nothing.
    ResourceLister find;
};

} // namespace quarvel::visa
