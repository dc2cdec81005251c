#include "visa/formatted_io.h"

#include "codec/ieee488_block.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace quarvel::visa {

namespace {

// One parsed conversion: %[flags][width][.precision][length]conv
struct Spec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alt = false;      // '#'
    bool suppress = false; // '*' in a read format: read, do not store
    int width = -1;
    int precision = -1;
    char length = 0; // 'h', 'l' or 'L'
    char conv = 0;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads an unsigned number of at most 7 digits (a width or precision).
bool ParseSmallNumber(const char*& p, int& value) {
    value = 0;
    int digits = 0;
    while (IsDigit(*p)) {
        if (++digits > 7)
            return false;
        value = value * 10 + (*p++ - '0');
    }
    return digits > 0;
}

// The end of every conversion, read or write: [h|l|L] and the conversion
// character.
ViStatus ParseLengthAndConversion(const char*& p, Spec& spec) {
    if (*p == 'h' || *p == 'l' || *p == 'L')
        spec.length = *p++;
    if (*p == '\0')
        return VI_ERROR_INV_FMT;
    spec.conv = *p++;
    return VI_SUCCESS;
}

// ------------------------------------------------------------ writing ----

ViStatus ParseWriteSpec(const char*& p, Spec& spec, FormatArgs& args) {
    for (;; ++p) {
        if (*p == '-')
            spec.left = true;
        else if (*p == '+')
            spec.plus = true;
        else if (*p == ' ')
            spec.space = true;
        else if (*p == '0')
            spec.zero = true;
        else if (*p == '#')
            spec.alt = true;
        else
            break;
    }
    if (*p == '*') {
        ++p;
        const int w = va_arg(args.list, int);
        spec.left = spec.left || w < 0;
        spec.width = std::min(std::abs(w), 1 << 20);
    } else if (IsDigit(*p) && !ParseSmallNumber(p, spec.width)) {
        return VI_ERROR_INV_FMT;
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++p;
            const int prec = va_arg(args.list, int);
            spec.precision = prec < 0 ? -1 : std::min(prec, 1 << 10);
        } else if (IsDigit(*p)) {
            if (!ParseSmallNumber(p, spec.precision) || spec.precision > 1024)
                return VI_ERROR_INV_FMT;
        } else {
            spec.precision = 0;
        }
    }
    return ParseLengthAndConversion(p, spec);
}

// Pads body (with its sign or prefix) to the width.
std::string Pad(const Spec& spec, std::string sign, std::string body, bool numeric) {
    const std::size_t used = sign.size() + body.size();
    const std::size_t width = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
    if (used >= width)
        return sign + body;
    const std::size_t fill = width - used;
    if (spec.left)
        return sign + body + std::string(fill, ' ');
    if (spec.zero && numeric)
        return sign + std::string(fill, '0') + body;
    return std::string(fill, ' ') + sign + body;
}

std::string FormatInteger(const Spec& spec, bool negative, std::uint64_t magnitude, int base,
                          bool upper) {
    char digits[32];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, magnitude, base);
    std::string body(digits, end);
    if (upper)
        for (char& c : body)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (spec.precision >= 0) {
        if (spec.precision == 0 && magnitude == 0)
            body.clear();
        else if (body.size() < static_cast<std::size_t>(spec.precision))
            body.insert(0, static_cast<std::size_t>(spec.precision) - body.size(), '0');
    }
    std::string sign;
    if (negative)
        sign = "-";
    else if (spec.plus && base == 10)
        sign = "+";
    else if (spec.space && base == 10)
        sign = " ";
    if (spec.alt && base == 16 && magnitude != 0)
        sign += upper ? "0X" : "0x";
    if (spec.alt && base == 8 && (body.empty() || body[0] != '0'))
        body.insert(body.begin(), '0');
    Spec padSpec = spec;
    if (spec.precision >= 0)
        padSpec.zero = false;
    return Pad(padSpec, sign, body, true);
}

std::string FormatReal(const Spec& spec, double value) {
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    std::string sign = negative ? "-" : spec.plus ? "+" : spec.space ? " " : "";
    if (!std::isfinite(magnitude)) {
        const bool upper = spec.conv == 'E' || spec.conv == 'G' || spec.conv == 'F';
        std::string body =
            std::isnan(magnitude) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
        return Pad(spec, sign, body, false);
    }
    const int precision = spec.precision < 0 ? 6 : spec.precision;
    // to_chars never looks at a locale: the decimal point is always '.'.
    // Wide enough for any double in fixed notation with 1024 decimals.
    char buffer[2048];
    std::to_chars_result r{};
    switch (spec.conv) {
    case 'e':
    case 'E':
        r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific,
                          precision);
        break;
    case 'g':
    case 'G':
        r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::general,
                          precision == 0 ? 1 : precision);
        break;
    default:
        r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed,
                          precision);
        break;
    }
    if (r.ec != std::errc())
        return sign + "0"; // unreachable with the buffer above
    std::string body(buffer, r.ptr);
    if (spec.conv == 'E' || spec.conv == 'G')
        for (char& c : body)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (spec.alt && body.find('.') == std::string::npos && spec.conv != 'g' && spec.conv != 'G')
        body += '.';
    return Pad(spec, sign, body, true);
}

ViStatus WriteConversion(Session& session, const Spec& spec, FormatArgs& args) {
    std::string text;
    switch (spec.conv) {
    case 'd':
    case 'i': {
        const std::int32_t v = va_arg(args.list, int);
        const std::uint64_t magnitude =
            v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(static_cast<std::int64_t>(v))
                  : static_cast<std::uint64_t>(v);
        text = FormatInteger(spec, v < 0, magnitude, 10, false);
        break;
    }
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
        const std::uint32_t v = va_arg(args.list, unsigned int);
        const int base = spec.conv == 'u' ? 10 : spec.conv == 'o' ? 8 : 16;
        text = FormatInteger(spec, false, v, base, spec.conv == 'X');
        break;
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
        text = FormatReal(spec, va_arg(args.list, double));
        break;
    case 'c':
        text = Pad(spec, "", std::string(1, static_cast<char>(va_arg(args.list, int))), false);
        break;
    case 's': {
        const char* s = va_arg(args.list, const char*);
        if (s == nullptr)
            return VI_ERROR_INV_PARAMETER;
        std::size_t n = std::strlen(s);
        if (spec.precision >= 0)
            n = std::min<std::size_t>(n, static_cast<std::size_t>(spec.precision));
        text = Pad(spec, "", std::string(s, n), false);
        break;
    }
    default:
        return VI_ERROR_NSUP_FMT;
    }
    return session.Put(text.data(), text.size());
}

// ------------------------------------------------------------ reading ----

ViStatus ParseReadSpec(const char*& p, Spec& spec) {
    if (*p == '*') {
        spec.suppress = true;
        ++p;
    }
    if (*p == '#') {
        spec.alt = true;
        ++p;
    }
    if (IsDigit(*p) && !ParseSmallNumber(p, spec.width))
        return VI_ERROR_INV_FMT;
    return ParseLengthAndConversion(p, spec);
}

// White space of the format: skips white space in the input; at the end of
// the message it stops rather than wait for another one.
ViStatus SkipSpaceWithinMessage(Session& session) {
    for (;;) {
        if (session.HasBuffered()) {
            if (!IsSpace(session.PeekBuffered()))
                return VI_SUCCESS;
            session.Advance();
            continue;
        }
        if (session.AtMessageEnd())
            return VI_SUCCESS;
        if (const ViStatus s = session.Fill(); s != VI_SUCCESS)
            return s;
    }
}

// Leading white space of a conversion: a conversion needs data, so after the
// end of a message it reads the next one.
ViStatus SkipSpaceForConversion(Session& session) {
    for (;;) {
        std::uint8_t c = 0;
        if (const ViStatus s = session.Peek(c); s != VI_SUCCESS)
            return s;
        if (!IsSpace(c))
            return VI_SUCCESS;
        session.Advance();
    }
}

// Next byte of the current message, if there is one.
ViStatus PeekInMessage(Session& session, bool& have, std::uint8_t& c) {
    have = false;
    while (!session.HasBuffered()) {
        if (session.AtMessageEnd())
            return VI_SUCCESS;
        if (const ViStatus s = session.Fill(); s != VI_SUCCESS)
            return s;
    }
    c = session.PeekBuffered();
    have = true;
    return VI_SUCCESS;
}

// After leading white space, the characters of the current message that
// `belongs` accepts, at most `limit` of them; the first other one stays.
template <typename Belongs>
ViStatus ReadToken(Session& session, std::string& token, std::size_t limit, Belongs belongs) {
    if (const ViStatus s = SkipSpaceForConversion(session); s != VI_SUCCESS)
        return s;
    for (;;) {
        bool have = false;
        std::uint8_t c = 0;
        if (const ViStatus s = PeekInMessage(session, have, c); s != VI_SUCCESS)
            return s;
        if (!have || !belongs(c) || token.size() >= limit)
            return VI_SUCCESS;
        token.push_back(static_cast<char>(c));
        session.Advance();
    }
}

// The characters of a number (sign, digits, point, exponent), at most 64.
ViStatus ReadNumberToken(Session& session, std::string& token) {
    return ReadToken(session, token, 64, [](std::uint8_t c) {
        return IsDigit(static_cast<char>(c)) || c == '+' || c == '-' || c == '.' || c == 'e' ||
               c == 'E';
    });
}

// The digits of a hexadecimal number, at most 16.
ViStatus ReadHexToken(Session& session, std::string& token) {
    return ReadToken(session, token, 16, [](std::uint8_t c) { return std::isxdigit(c) != 0; });
}

// Stores a converted value through the caller's next pointer argument.
template <typename T> ViStatus StoreThroughNextArg(FormatArgs& args, T value) {
    T* out = va_arg(args.list, T*);
    if (out == nullptr)
        return VI_ERROR_INV_PARAMETER;
    *out = value;
    return VI_SUCCESS;
}

bool ParseReal(const std::string& token, double& value) {
    const char* begin = token.data();
    const char* end = token.data() + token.size();
    if (begin != end && *begin == '+')
        ++begin;
    const auto r = std::from_chars(begin, end, value, std::chars_format::general);
    return r.ec == std::errc() && r.ptr == end;
}

bool ParseInteger(const std::string& token, int base, std::int64_t& value) {
    const char* begin = token.data();
    const char* end = token.data() + token.size();
    if (begin != end && *begin == '+')
        ++begin;
    const auto r = std::from_chars(begin, end, value, base);
    if (r.ec == std::errc() && r.ptr == end)
        return true;
    // "+1.0E+00" and the like: a real with an integral part.
    double real = 0;
    if (base != 10 || !ParseReal(token, real) || !std::isfinite(real) || std::fabs(real) > 9e18)
        return false;
    value = static_cast<std::int64_t>(std::trunc(real));
    return true;
}

ViStatus ReadInteger(Session& session, const Spec& spec, FormatArgs& args) {
    std::string token;
    const bool hex = spec.conv == 'x' || spec.conv == 'X';
    if (const ViStatus s = hex ? ReadHexToken(session, token) : ReadNumberToken(session, token);
        s != VI_SUCCESS)
        return s;
    std::int64_t value = 0;
    if (!ParseInteger(token, hex ? 16 : 10, value))
        return VI_ERROR_INV_FMT;
    const bool isSigned = spec.conv == 'd' || spec.conv == 'i';
    if (isSigned && (value < std::numeric_limits<std::int32_t>::min() ||
                     value > std::numeric_limits<std::int32_t>::max()))
        return VI_ERROR_INV_FMT;
    if (!isSigned && (value < 0 || value > std::numeric_limits<std::uint32_t>::max()))
        return VI_ERROR_INV_FMT;
    if (spec.suppress)
        return VI_SUCCESS;
    if (spec.length == 'h') {
        *va_arg(args.list, std::int16_t*) = static_cast<std::int16_t>(value);
        return VI_SUCCESS;
    }
    if (isSigned)
        return StoreThroughNextArg(args, static_cast<ViInt32>(value));
    return StoreThroughNextArg(args, static_cast<ViUInt32>(value));
}

ViStatus ReadReal(Session& session, const Spec& spec, FormatArgs& args) {
    std::string token;
    if (const ViStatus s = ReadNumberToken(session, token); s != VI_SUCCESS)
        return s;
    double value = 0;
    if (!ParseReal(token, value))
        return VI_ERROR_INV_FMT;
    if (spec.suppress)
        return VI_SUCCESS;
    if (spec.length == 'l' || spec.length == 'L')
        return StoreThroughNextArg(args, value);
    return StoreThroughNextArg(args, static_cast<float>(value));
}

// The destination of %s/%t: its size from "%#", the width or the default.
struct TextTarget {
    ViUInt32* count = nullptr;
    char* buffer = nullptr;
    std::size_t size = 0;
};

ViStatus TakeTextTarget(const Spec& spec, FormatArgs& args, TextTarget& target) {
    if (spec.suppress)
        return VI_SUCCESS;
    if (spec.alt) {
        target.count = va_arg(args.list, ViUInt32*);
        if (target.count == nullptr)
            return VI_ERROR_INV_PARAMETER;
        target.size = *target.count;
    } else {
        target.size = spec.width > 0 ? static_cast<std::size_t>(spec.width) : kDefaultStringBuffer;
    }
    target.buffer = va_arg(args.list, char*);
    if (target.buffer == nullptr && target.size > 0)
        return VI_ERROR_INV_PARAMETER;
    return VI_SUCCESS;
}

// Stores text (cut to fit with its NUL) into the target.
void StoreText(TextTarget& target, const std::string& text) {
    if (target.buffer == nullptr || target.size == 0) {
        if (target.count)
            *target.count = 0;
        return;
    }
    const std::size_t n = std::min(text.size(), target.size - 1);
    std::memcpy(target.buffer, text.data(), n);
    target.buffer[n] = '\0';
    if (target.count)
        *target.count = static_cast<ViUInt32>(n);
}

ViStatus ReadWord(Session& session, const Spec& spec, FormatArgs& args) {
    TextTarget target;
    if (const ViStatus s = TakeTextTarget(spec, args, target); s != VI_SUCCESS)
        return s;
    if (const ViStatus s = SkipSpaceForConversion(session); s != VI_SUCCESS)
        return s;
    std::string word;
    const std::size_t keep = target.size > 0 ? target.size - 1 : 0;
    for (;;) {
        bool have = false;
        std::uint8_t c = 0;
        if (const ViStatus s = PeekInMessage(session, have, c); s != VI_SUCCESS)
            return s;
        if (!have || IsSpace(c))
            break;
        if (word.size() < keep)
            word.push_back(static_cast<char>(c)); // beyond the buffer: read and dropped
        session.Advance();
    }
    StoreText(target, word);
    return VI_SUCCESS;
}

ViStatus ReadMessageText(Session& session, const Spec& spec, FormatArgs& args) {
    TextTarget target;
    if (const ViStatus s = TakeTextTarget(spec, args, target); s != VI_SUCCESS)
        return s;
    std::uint8_t c = 0;
    // %t reads a message: after the end of the last one, the next one.
    if (const ViStatus s = session.Peek(c); s != VI_SUCCESS)
        return s;
    std::string text;
    const std::size_t keep = target.size > 0 ? target.size - 1 : 0;
    std::uint8_t scratch[4096];
    for (;;) {
        const std::size_t room = keep - text.size();
        std::size_t got = 0;
        bool ended = false;
        const ViStatus s = session.ReadToMessageEnd(
            scratch, room > 0 ? std::min(room, sizeof scratch) : sizeof scratch, got, ended);
        if (room > 0)
            text.append(reinterpret_cast<const char*>(scratch), std::min(got, room));
        if (s != VI_SUCCESS)
            return s;
        if (ended)
            break;
    }
    StoreText(target, text);
    return VI_SUCCESS;
}

ViStatus ReadChar(Session& session, const Spec& spec, FormatArgs& args) {
    std::uint8_t c = 0;
    if (const ViStatus s = session.Peek(c); s != VI_SUCCESS)
        return s;
    session.Advance();
    if (spec.suppress)
        return VI_SUCCESS;
    return StoreThroughNextArg(args, static_cast<char>(c));
}

// %#b (or %<width>b): an IEEE 488.2 block of bytes. Sets truncated when the
// block was longer than the buffer.
ViStatus ReadBlock(Session& session, const Spec& spec, FormatArgs& args, bool& truncated) {
    truncated = false;
    if (spec.length != 0)
        return VI_ERROR_NSUP_FMT; // only 8-bit elements
    ViUInt32* count = nullptr;
    std::size_t capacity = 0;
    if (spec.alt) {
        count = va_arg(args.list, ViUInt32*);
        if (count == nullptr)
            return VI_ERROR_INV_PARAMETER;
        capacity = *count;
        *count = 0;
    } else if (spec.width > 0) {
        capacity = static_cast<std::size_t>(spec.width);
    } else {
        return VI_ERROR_NSUP_FMT; // no size: the buffer could overflow
    }
    std::uint8_t* buffer = spec.suppress ? nullptr : va_arg(args.list, std::uint8_t*);
    if (buffer == nullptr && capacity > 0)
        return spec.suppress ? VI_ERROR_NSUP_FMT : VI_ERROR_INV_PARAMETER;

    if (const ViStatus s = SkipSpaceForConversion(session); s != VI_SUCCESS)
        return s;
    // Gather the header and let the one block-header parser judge it.
    std::string header;
    BlockHeader parsed;
    for (;;) {
        const BlockHeaderResult r = ParseBlockHeader(header, parsed);
        if (r == BlockHeaderResult::Ok)
            break;
        if (r == BlockHeaderResult::Invalid)
            return VI_ERROR_INV_FMT;
        bool have = false;
        std::uint8_t c = 0;
        if (const ViStatus s = PeekInMessage(session, have, c); s != VI_SUCCESS)
            return s;
        if (!have)
            return VI_ERROR_INV_FMT; // message ended inside the header
        header.push_back(static_cast<char>(c));
        // A byte that cannot continue the header stays unread, so a caller
        // can read a reply that is no block (a bare file) in another way.
        if (ParseBlockHeader(header, parsed) == BlockHeaderResult::Invalid)
            return VI_ERROR_INV_FMT;
        session.Advance();
    }

    std::size_t stored = 0;
    if (!parsed.indefinite)
        session.ExpectBlockData(parsed.dataLength);
    if (parsed.indefinite) {
        bool ended = false;
        if (const ViStatus s = session.ReadToMessageEnd(buffer, capacity, stored, ended);
            s != VI_SUCCESS) {
            if (count)
                *count = static_cast<ViUInt32>(stored);
            return s;
        }
        // The line feed sent with END terminates the block; it is not data.
        if (ended && stored > 0 && buffer[stored - 1] == '\n')
            --stored;
        truncated = !ended;
    } else {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(parsed.dataLength, capacity));
        bool ended = false;
        const ViStatus s = session.ReadBlockData(buffer, want, stored, ended);
        if (count)
            *count = static_cast<ViUInt32>(stored);
        if (s != VI_SUCCESS)
            return s;
        if (stored < want)
            return VI_ERROR_IO; // the message ended before the declared length
        if (parsed.dataLength > want) {
            truncated = true;
            session.SetPendingBlockBytes(parsed.dataLength - want);
        } else if (!ended) {
            session.EndOfReplyData();
        }
    }
    if (count)
        *count = static_cast<ViUInt32>(stored);
    return VI_SUCCESS;
}

ViStatus ReadConversion(Session& session, const Spec& spec, FormatArgs& args, bool& stop) {
    stop = false;
    switch (spec.conv) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
        return ReadInteger(session, spec, args);
    case 'f':
    case 'e':
    case 'g':
    case 'E':
    case 'G':
        return ReadReal(session, spec, args);
    case 's':
        return ReadWord(session, spec, args);
    case 't':
        return ReadMessageText(session, spec, args);
    case 'c':
        return ReadChar(session, spec, args);
    case 'b':
        return ReadBlock(session, spec, args, stop);
    default:
        return VI_ERROR_NSUP_FMT;
    }
}

// Backslash escapes in a format: "\n" "\r" "\t" "\\" "\"".
char Unescape(char c) {
    switch (c) {
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return c;
    }
}

} // namespace

ViStatus FormatWrite(Session& session, const char* format, FormatArgs& args) {
    if (format == nullptr)
        return VI_ERROR_INV_FMT;
    const char* p = format;
    while (*p != '\0') {
        if (*p == '%') {
            ++p;
            if (*p == '%') {
                ++p;
                if (const ViStatus s = session.Put("%", 1); s != VI_SUCCESS)
                    return s;
                continue;
            }
            Spec spec;
            if (const ViStatus s = ParseWriteSpec(p, spec, args); s != VI_SUCCESS)
                return s;
            if (const ViStatus s = WriteConversion(session, spec, args); s != VI_SUCCESS)
                return s;
            continue;
        }
        if (*p == '\\' && p[1] != '\0') {
            const char c = Unescape(p[1]);
            p += 2;
            const ViStatus s = c == '\n' ? session.Put("\n", 1) : session.Put(&c, 1);
            if (s != VI_SUCCESS)
                return s;
            if (c == '\n')
                if (const ViStatus f = session.FlushWrite(true); f != VI_SUCCESS)
                    return f;
            continue;
        }
        if (*p == '\n') {
            // The command is complete: line feed and END, sent now.
            ++p;
            if (const ViStatus s = session.Put("\n", 1); s != VI_SUCCESS)
                return s;
            if (const ViStatus s = session.FlushWrite(true); s != VI_SUCCESS)
                return s;
            continue;
        }
        // A run of plain text goes in at once.
        const char* run = p;
        while (*p != '\0' && *p != '%' && *p != '\\' && *p != '\n')
            ++p;
        if (p == run)
            ++p; // a lone trailing backslash
        if (const ViStatus s = session.Put(run, static_cast<std::size_t>(p - run)); s != VI_SUCCESS)
            return s;
    }
    return VI_SUCCESS;
}

ViStatus FormatRead(Session& session, const char* format, FormatArgs& args) {
    if (format == nullptr)
        return VI_ERROR_INV_FMT;
    const char* p = format;
    while (*p != '\0') {
        char c = *p;
        if (c == '\\' && p[1] != '\0') {
            c = Unescape(p[1]);
            p += 2;
        } else if (c == '%' && p[1] != '%') {
            ++p;
            Spec spec;
            if (const ViStatus s = ParseReadSpec(p, spec); s != VI_SUCCESS)
                return s;
            bool stop = false;
            if (const ViStatus s = ReadConversion(session, spec, args, stop); s != VI_SUCCESS)
                return s;
            if (stop)
                return VI_SUCCESS; // the rest of a long block waits for viFlush
            continue;
        } else {
            p += c == '%' ? 2 : 1;
        }
        if (IsSpace(static_cast<unsigned char>(c))) {
            if (const ViStatus s = SkipSpaceWithinMessage(session); s != VI_SUCCESS)
                return s;
            continue;
        }
        bool have = false;
        std::uint8_t in = 0;
        if (const ViStatus s = PeekInMessage(session, have, in); s != VI_SUCCESS)
            return s;
        if (!have || in != static_cast<std::uint8_t>(c))
            return VI_ERROR_INV_FMT;
        session.Advance();
    }
    // Only white space left of a complete reply (its terminator, say): it
    // tells nothing, and must not be taken as the start of the next read.
    session.DropTrailingSpaceOfEndedReply();
    return VI_SUCCESS;
}

} // namespace quarvel::visa
