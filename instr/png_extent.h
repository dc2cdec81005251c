#pragma once

#include <cstddef>
#include <cstdint>

// Whether `data` is the beginning of a PNG file that has not reached the end
// of its IEND chunk yet. A raw image reply over a transport without an END
// signal (a plain TCP socket ends a read at every line feed, and PNG files
// contain line feeds) is complete only when its own structure says so.
//
// False for a complete PNG, for an empty reply and for anything that is not a PNG (its end is the
// end of the message). Chunk lengths are taken as declared: a damaged length
// makes the file look unfinished, and the caller's buffer and timeout bound
// the wait for the rest.
bool IsUnfinishedPng(const std::uint8_t* data, std::size_t size);

// The length of the complete PNG file at the start of `data` (through its
// IEND chunk), or 0 when `data` does not start with a complete PNG file.
std::size_t CompletePngLength(const std::uint8_t* data, std::size_t size);
