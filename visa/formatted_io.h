#pragma once

// The formatted I/O engine behind viPrintf, viScanf and viQueryf.
//
// Writing: text is collected in the session's write buffer; a line feed in
// the format (the character, or the two characters backslash n) appends LF,
// sends the buffer with END and so ends the command. Conversions %d %i %u %x
// %X %o %c %s %f %e %g %% with flags, width and precision as in C, always
// with '.' as the decimal point whatever the C or C++ locale. The 'l'
// modifier takes 32-bit values (%ld ViInt32, %lu ViUInt32, %lf double), so a
// driver passing ViInt32 for %ld is right on every platform.
//
// Reading (from the session's read buffer):
//   white space in the format   skips white space in the input; once the
//                               message has ended it starts no new read
//   other characters            must match the input
//   %d %i %ld %u %lu %x         one number into a 32-bit ViInt32/ViUInt32
//                               (%ld too, whatever the size of long); a
//                               number written as a real is truncated
//   %f %lf %e %g                a real into float* (%f) or double* (%lf)
//   %c                          one byte into char*
//   %s                          skips white space, then one word
//   %t                          everything up to the end of the message,
//                               terminator included
//   %#b                         an IEEE 488.2 block, definite "#<n><digits>"
//                               or indefinite "#0" (up to END); arguments:
//                               ViUInt32* count (capacity in bytes on entry,
//                               bytes stored on return), then the buffer
// Buffer sizes of %s and %t: "%256t" or "%256s" gives the size of the
// caller's buffer in bytes, NUL included; "%#s"/"%#t" take a ViUInt32*
// (buffer size on entry, characters stored on return) before the buffer;
// a plain "%s" or "%t" assumes a 256-byte buffer. What does not fit is
// read and dropped (the rest of the word, or of the message), never written
// past the buffer.
// A block longer than its buffer fills the buffer, and the rest of it is left
// for viFlush(VI_READ_BUF), which reads and drops it (by its length, so line
// feeds in it do not matter) and the rest of the message; the conversions
// after such a block are not performed.
// A reply that does not match the format gives VI_ERROR_INV_FMT; a format the
// engine cannot perform gives VI_ERROR_NSUP_FMT.

#include "visa/session.h"

#include <cstdarg>

namespace quarvel::visa {

// A va_list that can be passed on by reference (viQueryf hands one list to
// the write and then the read side).
struct FormatArgs {
    va_list list;
};

// Buffer size that a plain %s or %t assumes.
constexpr std::size_t kDefaultStringBuffer = 256;

ViStatus FormatWrite(Session& session, const char* format, FormatArgs& args);
ViStatus FormatRead(Session& session, const char* format, FormatArgs& args);

} // namespace quarvel::visa
