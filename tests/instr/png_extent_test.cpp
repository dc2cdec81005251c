// Finding the end of a PNG file that arrives without an END signal.

#include "instr/png_extent.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Chunk(const std::string& type, const std::string& data) {
    std::string chunk;
    const auto n = static_cast<std::uint32_t>(data.size());
    chunk += static_cast<char>(n >> 24);
    chunk += static_cast<char>(n >> 16);
    chunk += static_cast<char>(n >> 8);
    chunk += static_cast<char>(n);
    chunk += type + data + std::string("CRC!");
    return chunk;
}

// A PNG-structured file whose chunk data holds line feeds, as real ones do.
std::string SamplePng() {
    return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", std::string(13, '\n')) +
           Chunk("IDAT", "x\n\n\r\nsome\ndata") + Chunk("IDAT", "") + Chunk("IEND", "");
}

bool Unfinished(const std::string& bytes) {
    return IsUnfinishedPng(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(PngExtent, EveryProperPrefixIsUnfinishedAndTheWholeFileIsNot) {
    const std::string png = SamplePng();
    for (std::size_t n = 1; n < png.size(); ++n)
        EXPECT_TRUE(Unfinished(png.substr(0, n))) << n;
    EXPECT_FALSE(Unfinished(png));
    // Bytes after IEND (a trailing line feed) do not make it unfinished.
    EXPECT_FALSE(Unfinished(png + "\n"));
}

TEST(PngExtent, OtherRepliesAreTakenAsTheyCame) {
    EXPECT_FALSE(Unfinished(""));
    EXPECT_FALSE(Unfinished("BM6\x94\x11"));
    EXPECT_FALSE(Unfinished("#9001152054"));
    EXPECT_FALSE(Unfinished("\x89PNX"));
}

TEST(PngExtent, DamagedChunkLengthLooksUnfinished) {
    std::string png = SamplePng();
    png[8] = '\x7f'; // IHDR now claims about 2 GB
    EXPECT_TRUE(Unfinished(png));
    png[8] = '\xff'; // beyond 32-bit signed: still no overflow
    png[9] = '\xff';
    png[10] = '\xff';
    png[11] = '\xff';
    EXPECT_TRUE(Unfinished(png));
}

} // namespace
