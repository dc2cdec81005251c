#pragma once

// The byte stream an RPC client talks over: a TCP connection, or in the fuzz
// target a stream read from the fuzzer's input.

#include "visa/transport.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarvel::visa {

class ProgressMeter;

// With a progress meter (see tcp_connection.h) the stream reports what it
// moves and wakes to report while it waits; VI_ERROR_ABORT after a cancel.
class IByteStream {
public:
    virtual ~IByteStream() = default;
    // Sends all parts in order. VI_ERROR_TMO, or VI_ERROR_CONN_LOST when the
    // peer is gone.
    virtual ViStatus SendAll(std::span<const std::span<const std::uint8_t>> parts,
                             Deadline deadline, ProgressMeter* progress = nullptr) = 0;
    // Exactly size bytes, or VI_ERROR_TMO / VI_ERROR_CONN_LOST.
    virtual ViStatus ReceiveExact(std::uint8_t* data, std::size_t size, Deadline deadline,
                                  ProgressMeter* progress = nullptr) = 0;
};

} // namespace quarvel::visa
