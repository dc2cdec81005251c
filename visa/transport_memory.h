#pragma once

// A scripted in-memory device, reachable as "QVMEM::<name>::INSTR" once
// RegisterMemoryTransport() has been called. Tests and fuzz targets use it to
// drive the formatted I/O through real sessions without sockets; it is not
// registered in normal use.

#include "visa/transport.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quarvel::visa {

struct MemoryDeviceOptions {
    // true: each reply ends with END (as over VXI-11); false: like a raw
    // socket, where only a line feed ends a text read.
    bool signalsEnd = true;
    // At most this many bytes per transport read (replies in many pieces).
    std::size_t pieceSize = static_cast<std::size_t>(-1);
    // When every reply has been read: true fails reads with
    // VI_ERROR_CONN_LOST (a dropped connection), false with VI_ERROR_TMO.
    bool dropWhenEmpty = false;
    // When not NUL: after the replies, the device sends this byte for ever
    // (a reply that never ends).
    char endlessFill = '\0';
    // Each read first waits this long (a slow but steady link).
    std::chrono::milliseconds readDelay{0};
};

class MemoryDevice {
public:
    explicit MemoryDevice(const MemoryDeviceOptions& options) : m_options(options) {}
    // Queues one reply message.
    void QueueReply(std::string bytes);
    // The messages written so far (split at END), and the bytes of a message
    // not yet ended.
    std::vector<std::string> Messages() const;
    std::string Unfinished() const;
    std::size_t ClearCount() const;
    bool SignalsEnd() const { return m_options.signalsEnd; }

    // Transport side.
    ViStatus Write(const std::uint8_t* data, std::size_t size, bool end);
    ViStatus Read(std::uint8_t* data, std::size_t capacity, ReadMode mode, ReadResult& result);
    void Clear();

private:
    MemoryDeviceOptions m_options;
    mutable std::mutex m_mutex;
    std::deque<std::string> m_replies;
    std::size_t m_replyPos = 0;
    std::vector<std::string> m_messages;
    std::string m_unfinished;
    std::size_t m_clears = 0;
};

// Adds the "QVMEM" row to the transport table (once).
void RegisterMemoryTransport();
// A device under name (replacing one of the same name).
std::shared_ptr<MemoryDevice> CreateMemoryDevice(const std::string& name,
                                                 const MemoryDeviceOptions& options = {});
void RemoveMemoryDevice(const std::string& name);
// A transport on device without the table, for a session made directly
// (the formatted-read fuzz target, which links no transport table).
std::unique_ptr<ITransport> MakeMemoryTransport(std::shared_ptr<MemoryDevice> device);

} // namespace quarvel::visa
