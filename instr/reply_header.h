#pragma once

// Instruments that put headers on their replies (Siglent COMM_HEADER SHORT or
// LONG, Tektronix HEADer ON, Keysight :SYSTem:HEADer ON) answer a query with
// its own header first: "TRMD?" → "TRMD AUTO", "*OPC?" → "*OPC 1",
// "ACQuire:STATE?" → ":ACQUIRE:STATE 1". Every driver reads a query's value
// after such an echo.

#include <string_view>

namespace quarvel::instr {

// The reply without a leading echo of the header of `query` (the command
// text that was sent, "TRMD?" or ":WAVEFORM:PREAMBLE?\n") and the blanks after
// it. The echo may be the short or the long form of each node, in any case,
// with or without the leading colon, or a spelling the quirk table lists. A
// reply that does not start with the echo followed by a blank is returned as
// it is.
std::string_view SkipEchoedHeader(std::string_view reply, std::string_view query);

} // namespace quarvel::instr
