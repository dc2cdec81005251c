// CInstrLL::ReadPngImage: a PNG file sent bare, framed by its own chunks.
// Some instruments send the file with no header and nothing after it, so
// over a raw socket neither END nor a terminator says where it ends.

#include "instr/instr_ll.h"
#include "instr/png_extent.h"
#include "instr/retrieval_io.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::size_t kSignatureSize = 8;
// Length and type before a chunk's data, its CRC after it.
constexpr std::uint64_t kChunkHead = 8;
constexpr std::uint64_t kChunkCrc = 4;

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

} // namespace

ViStatus CInstrLL::ReadPngImage() {
    using quarvel::wavedata::ReadExactly;
    ViByte* image = m_imageBuffer.get();
    if (!ReadExactly(m_session, image, kSignatureSize))
        return VI_ERROR_IO;
    // The first bytes of a PNG file look unfinished; anything else is not one.
    if (!IsUnfinishedPng(image, kSignatureSize))
        return VI_ERROR_INV_FMT;
    std::uint64_t have = kSignatureSize;
    for (;;) {
        if (have + kChunkHead > IMAGE_BUFFER_CAPACITY)
            return VI_ERROR_INV_FMT;
        if (!ReadExactly(m_session, image + have, kChunkHead))
            return VI_ERROR_IO;
        const std::uint64_t rest = BigEndian32(image + have) + kChunkCrc;
        const bool last = std::equal(image + have + 4, image + have + 8, "IEND");
        have += kChunkHead;
        // A chunk longer than the buffer holds is no image of a screen.
        if (have + rest > IMAGE_BUFFER_CAPACITY)
            return VI_ERROR_INV_FMT;
        qviExpectReplyData(m_session, rest);
        if (!ReadExactly(m_session, image + have, static_cast<std::size_t>(rest)))
            return VI_ERROR_IO;
        have += rest;
        if (last)
            break;
    }
    m_imageBufferSize = static_cast<ViUInt32>(have);
    return qviEndOfReplyData(m_session);
}
