#include "instr/png_extent.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::uint8_t, 8> PNG_SIGNATURE = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Length and type in front of the chunk data, CRC after it.
constexpr std::uint64_t CHUNK_HEAD = 8;
constexpr std::uint64_t CHUNK_CRC = 4;

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

} // namespace

namespace {

enum class PngState { NotPng, Unfinished, Complete };

// Walks the chunks; on Complete, `length` is the file's length through IEND.
PngState ExaminePng(const std::uint8_t* data, std::size_t size, std::size_t& length) {
    if (size == 0)
        return PngState::NotPng;
    const std::size_t signatureBytes = std::min(size, PNG_SIGNATURE.size());
    if (!std::equal(data, data + signatureBytes, PNG_SIGNATURE.begin()))
        return PngState::NotPng;
    if (size < PNG_SIGNATURE.size())
        return PngState::Unfinished;

    std::uint64_t pos = PNG_SIGNATURE.size();
    while (pos + CHUNK_HEAD <= size) {
        const std::uint64_t chunkLength = BigEndian32(data + pos);
        const std::uint64_t chunkEnd = pos + CHUNK_HEAD + chunkLength + CHUNK_CRC;
        if (chunkEnd > size)
            return PngState::Unfinished;
        const std::uint8_t* type = data + pos + 4;
        if (std::equal(type, type + 4, "IEND")) {
            length = static_cast<std::size_t>(chunkEnd);
            return PngState::Complete;
        }
        pos = chunkEnd;
    }
    return PngState::Unfinished;
}

} // namespace

bool IsUnfinishedPng(const std::uint8_t* data, std::size_t size) {
    std::size_t length = 0;
    return ExaminePng(data, size, length) == PngState::Unfinished;
}

std::size_t CompletePngLength(const std::uint8_t* data, std::size_t size) {
    std::size_t length = 0;
    return ExaminePng(data, size, length) == PngState::Complete ? length : 0;
}
