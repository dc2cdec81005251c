#pragma once

// The length of a BMP file from its file header. Some instruments send their
// screen image as a bare BMP file, without a block header and without END
// where the transport has none; the file's own header is then the only thing
// that says where the image ends.

#include <cstddef>
#include <cstdint>

namespace quarvel::instr {

// BITMAPFILEHEADER: "BM", file size, two reserved words, pixel-data offset.
constexpr std::size_t kBmpFileHeaderSize = 14;

// The file length the header at the start of `data` declares (the
// little-endian 32-bit size after "BM"), or 0 when `data` does not start with
// a plausible BMP file header: fewer than kBmpFileHeaderSize bytes, no "BM",
// a size too small for the file header and the smallest info header (12
// bytes), or a pixel-data offset that lies before the end of those headers
// or beyond the file.
std::uint32_t BmpFileLength(const std::uint8_t* data, std::size_t size);

} // namespace quarvel::instr
