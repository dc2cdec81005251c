#pragma once

// Why a driver operation failed, as the drivers' base helpers record it
// (CInstrLL::LastFailure) and the window and quarvel-cli word it: the kind
// of failure, the VISA status, the step ("waiting for the screen image",
// "reading the preamble of CHAN2"), the command it followed, how long it
// waited and what the instrument said.

#include "visa/visa_internal.h"

#include <cstdint>
#include <string>

namespace quarvel::instr {

enum class FailureKind {
    None,
    Timeout,           // nothing (more) came within the timeout
    ConnectionRefused, // nothing answers at the address
    LinkLost,          // the connection ended (mid-transfer)
    NotAnImage,        // a reply came, but no image in it
    CommandRefused,    // the instrument's error queue names an error
    NotUnderstood,     // a reply came that the driver cannot read
    Io,                // any other VISA failure
};

struct Failure {
    FailureKind kind = FailureKind::None;
    ViStatus status = VI_SUCCESS;
    std::string step;
    std::string command;
    std::uint32_t waitedMs = 0;
    std::uint64_t bytesRead = 0;
    // What the instrument said: its error queue's entry, or the start of a
    // reply that was not what was asked for (shown escaped).
    std::string detail;

    bool Failed() const { return kind != FailureKind::None; }
};

FailureKind KindOfStatus(ViStatus status);

// The reason in a bench engineer's words, without a final full stop:
// "the instrument sent nothing for 30 s after ':DISP:DATA? PNG' (timeout)".
// Empty when nothing failed.
std::string DescribeFailure(const Failure& failure);

// Bytes shown in a message: printable ASCII as is, others as \xHH, at most
// `limit` bytes of the input.
std::string ShowBytes(const void* data, std::size_t size, std::size_t limit = 24);

} // namespace quarvel::instr

namespace quarvel::instr {

// The failure the VISA session `session` recorded last (qviGetLastFailure)
// in the given step; kind None when it recorded none.
Failure LastSessionFailure(ViSession session, std::string step);
// A viOpen that returned status.
Failure OpenFailure(ViStatus status);

} // namespace quarvel::instr
