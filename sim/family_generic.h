#pragma once

// The generic SCPI instrument: the common commands only, plus
// ":TEST:BLOCK? <n>[,INDefinite]", which answers a definite-length block of n
// deterministic bytes (TestBlockByte) for transfer tests and benchmarks, or
// with INDEFINITE the same bytes as a "#0" block that ends with the message.
// With --image-query it also serves a drawn screen as a PNG (block or raw),
// the made-up instrument of user-written definitions.

#include "sim/family_support.h"
#include "sim/sim_instrument.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quarvel::sim {

constexpr std::size_t kMaxTestBlock = 8'000'000;

// Byte i of every test block.
inline std::uint8_t TestBlockByte(std::size_t i) {
    return static_cast<std::uint8_t>((i * 31u + (i >> 8) * 7u + 11u) & 0xFFu);
}
std::string TestBlockData(std::size_t length);

std::unique_ptr<SimInstrument> CreateGeneric(const InstrumentSetup& setup);

} // namespace quarvel::sim
