#pragma once

// The binary data block of a waveform query, as the oscilloscope families
// send it: an IEEE 488.2 definite-length block, possibly after a reply
// header ("C1:WF DAT2,"), followed by whatever the firmware puts after it (a
// line feed, NULs, two line feeds, stray bytes).

#include "visa/visa.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace quarvel::wavedata {

struct BlockQuery {
    std::string command;      // the query, line feed included or not
    std::size_t maxBytes = 0; // longest block accepted: a longer one fails unread
    ViUInt32 timeoutMs = 0;   // in force for the transfer; the old one is put back
    // Bytes known to follow the block (Siglent: 2, its two line feeds); they
    // are read by count. 0: the rest of the reply message is read and dropped.
    std::size_t tailBytes = 0;
    // Firmware that announces the samples, not the bytes, of a block of
    // multi-byte samples (Siglent SDS HD / X Plus with WORD data): when the
    // header announces exactly `samples` and `sampleBytes` is above 1, the
    // block holds samples * sampleBytes bytes. 0: the header counts bytes.
    std::size_t samples = 0;
    std::size_t sampleBytes = 1;
    // Called after each read of the block's data with the part of it
    // received so far, so a caller can convert while the rest comes (the
    // instrument keeps sending meanwhile). May be empty.
    std::function<void(std::span<const std::uint8_t> received)> received = {};
};

// Sends the query and reads the block's data into `data` (resized to the
// length the header announces). At most 64 bytes before the '#' are
// skipped. False with the reason in `why` ("the reply holds no data
// block", "the block announces N bytes, more than M", "the block ended
// after N of M bytes"), and `data` empty: nothing of a block that did not
// come whole is handed on. The session's progress handler may cancel the
// read in the middle of the block ("cancelled after N of its M bytes"); the
// VISA layer then drops the rest of the reply, and the next query on the
// session gets its own reply.
bool QueryDataBlock(ViSession session, const BlockQuery& query, std::vector<std::uint8_t>& data,
                    std::string& why);
// The same without sending: reads the reply to a query sent before (so a
// caller can ask for the next page and convert this one while it comes).
// `query.command` is not used.
bool ReadDataBlock(ViSession session, const BlockQuery& query, std::vector<std::uint8_t>& data,
                   std::string& why);

} // namespace quarvel::wavedata
