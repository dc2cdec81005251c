#pragma once

// The one parser of IEEE 488.2 block headers: "#<n><n digits>" (definite
// length, n = 1..9) and "#0" (indefinite, data up to the end of the message).
// It validates before it trusts: the '#', a decimal digit n, then n decimal
// digits; the declared length must not exceed the caller's limit.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel::visa {

struct BlockHeader {
    bool indefinite = false;      // "#0": data runs to the end of the message
    std::size_t headerSize = 0;   // bytes of "#<n><digits>" (2 for "#0")
    std::uint64_t dataLength = 0; // declared data bytes (0 when indefinite)
};

enum class BlockHeaderResult {
    Ok,       // header complete and valid
    NeedMore, // what is there is a valid start, but the header is not complete yet
    Invalid,  // not a block header (no '#', non-digit, or length over the limit)
};

// Parses the header at the very start of text (no white space is skipped).
BlockHeaderResult ParseBlockHeader(std::string_view text, BlockHeader& header,
                                   std::uint64_t maxLength = UINT64_MAX);

// "#<n><digits>" for a definite block of dataLength bytes; empty when the
// length needs ten or more digits.
std::string FormatBlockHeader(std::uint64_t dataLength);

} // namespace quarvel::visa
