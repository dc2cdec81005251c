#pragma once

// Fault injection: what the simulator does to a response message before it
// goes on the wire, and how it sends it. Every option is off by default.

#include "sim/net.h"
#include "sim/sim_instrument.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel::sim {

struct FaultOptions {
    int delayMs = 0;                    // wait before each reply
    long long blockCut = -1;            // send only this many block data bytes, then end
    long long blockOverclaim = 0;       // header claims this many bytes more than sent
    bool garbage = false;               // garbage instead of the reply
    bool dropMidReply = false;          // close the connection halfway through a reply
    std::size_t tinyPieces = 0;         // send in TCP pieces of this many bytes
    std::size_t rateBytesPerSecond = 0; // send no faster than this (0: no limit)
    std::uint32_t maxRecvSize = 0;      // VXI-11 maxRecvSize (0: the default)
    // HiSLIP only:
    std::size_t hislipFragment = 0; // Data messages of at most this many bytes before the DataEnd
    bool hislipError = false;       // an Error message instead of the reply
    bool hislipFatal = false;       // a FatalError instead of the reply, then both channels closed
    bool hislipStall = false;       // the reply held back until a device clear
    // VXI-11: RPC replies in record-marking fragments of at most this many
    // bytes (0: one fragment), as servers with small buffers send them.
    std::uint32_t replyFragment = 0;
    // VXI-11: before each reply the previous one again, as a late reply of an
    // earlier call with a stale transaction id arrives.
    bool staleReplies = false;
};

// The garbage sent instead of a reply: no valid number, word or block.
inline constexpr std::string_view kGarbageReply = "\x01\x7f#X~garbage~\xfe\xff\n";

// A reply ready for a transport.
struct OutgoingReply {
    std::string bytes;
    // The connection is closed after this many bytes (npos: never).
    std::size_t dropAfter = std::string::npos;
    // Wait before sending (the instrument's own time, plus the delay fault).
    int delayMs = 0;
    // The reply is one the fault options apply to (see --fault-on).
    bool faultTarget = false;
};

inline SendPacing Pacing(const FaultOptions& faults) {
    return {faults.tinyPieces, faults.rateBytesPerSecond};
}

OutgoingReply ApplyFaults(ResponseMessage&& response, const FaultOptions& faults);

} // namespace quarvel::sim
