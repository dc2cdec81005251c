#include "instr/bmp_extent.h"

namespace quarvel::instr {
namespace {

// BITMAPCOREHEADER, the smallest info header a BMP file can have.
constexpr std::uint32_t kSmallestInfoHeader = 12;

std::uint32_t LittleEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

} // namespace

std::uint32_t BmpFileLength(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kBmpFileHeaderSize || data[0] != 'B' || data[1] != 'M')
        return 0;
    const std::uint32_t length = LittleEndian32(data + 2);
    const std::uint32_t pixelOffset = LittleEndian32(data + 10);
    constexpr std::uint32_t kHeaders = kBmpFileHeaderSize + kSmallestInfoHeader;
    if (length < kHeaders || pixelOffset < kHeaders || pixelOffset > length)
        return 0;
    return length;
}

} // namespace quarvel::instr
