#pragma once

// The I/O log's text format (docs/visa.md, "I/O log"): one line per VISA
// operation, written by io_log.cpp and read back by the simulator's replay
// and the tests. Lines are parsed here only, strictly and bounded, since a
// log is a file from outside (a user's bug report).
//
//   # quarvel-io-log 1 data=scope.log.data
//   t=12.407 s=1 rsrc=TCPIP0::127.0.0.1::inst0::INSTR op=write status=VI_SUCCESS dur=0.212 end=yes
//   text="*IDN?\n" t=40.113 s=1 rsrc=... op=read status=VI_SUCCESS dur=38.950 end=no bin=1152054
//   head=23393030 tail=fe00 fnv=8a3c... at=0

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarvel::visa::iolog {

inline constexpr int kFormatVersion = 1;
inline constexpr std::string_view kHeaderMagic = "# quarvel-io-log";
// No line of ours is longer; a longer one is refused unread.
inline constexpr std::size_t kMaxLineLength = 64 * 1024;
// Payloads up to this size are written whole as escaped text when they are
// mostly text (all payloads up to kAlwaysTextBytes are).
inline constexpr std::size_t kMaxTextBytes = 4096;
inline constexpr std::size_t kAlwaysTextBytes = 64;
// Bytes shown at each end of a binary payload.
inline constexpr std::size_t kEdgeBytes = 16;
inline constexpr std::size_t kMaxResourceLength = 256;

enum class Op { Open, Close, Write, Read, Clear, StatusByte };
// How a write or read ended: END sent/received, not, or (reads) the
// termination character.
enum class End { None, Yes, No, Term };

std::string_view OpName(Op op);
std::string_view EndName(End end);

// What the line says of the bytes moved.
struct Payload {
    enum class Kind { None, Text, Binary } kind = Kind::None;
    std::string text;                // Text: the bytes, unescaped
    std::uint64_t size = 0;          // Binary: the length
    std::string head;                // Binary: the first bytes (at most kEdgeBytes)
    std::string tail;                // Binary: the last bytes
    std::uint64_t fnv = 0;           // Binary: FNV-1a 64 of all bytes
    std::optional<std::uint64_t> at; // Binary: offset in the side file
    // The payload's length, whatever its kind.
    std::uint64_t Length() const { return kind == Kind::Text ? text.size() : size; }
};

struct Record {
    double tMs = 0;       // monotonic ms since the log was started
    unsigned session = 0; // the VISA session (0: an open that failed)
    std::string resource; // the resource string as opened
    Op op = Op::Open;
    std::string status; // the VISA status by name (VI_SUCCESS, VI_ERROR_TMO)
    double durMs = 0;
    End end = End::None;
    Payload payload;
};

// A header line: the format version and the side file its binary payloads
// went to (empty when only summaries were kept).
struct Header {
    int version = 0;
    std::string dataFile;
};

// FNV-1a with the 64-bit prime and offset basis, taken over the bytes in
// 8-byte little-endian words and then the last size % 8 bytes one by one.
std::uint64_t Fnv1a64(const std::uint8_t* data, std::size_t size,
                      std::uint64_t hash = 0xcbf29ce484222325ull);
// Whether a payload is written as escaped text (see kMaxTextBytes).
bool ShowsAsText(const std::uint8_t* data, std::size_t size);
// Appends the escaped form ("\n", "\x00", "\"") of the bytes, quotes included.
void AppendEscaped(std::string& out, const std::uint8_t* data, std::size_t size);
// Formats one record as a line (with its line feed). Binary payloads are
// summarised from data; at, when given, names their place in the side file.
std::string FormatLine(const Record& record, const std::uint8_t* data, std::size_t size);
std::string FormatHeader(const Header& header);

enum class LineKind { Blank, Comment, Header, Record };
// Parses one line (without its line feed). Returns nullopt and sets error
// (what is wrong and at which column) for a line that is not of the format.
std::optional<LineKind> ParseLine(std::string_view line, Header& header, Record& record,
                                  std::string& error);

} // namespace quarvel::visa::iolog
