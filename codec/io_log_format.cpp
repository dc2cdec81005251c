#include "codec/io_log_format.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace quarvel::visa::iolog {

namespace {

constexpr std::array<std::string_view, 6> kOpNames = {"open", "close", "write",
                                                      "read", "clear", "stb"};
constexpr std::array<std::string_view, 4> kEndNames = {"", "yes", "no", "term"};

bool IsTextByte(std::uint8_t c) {
    return (c >= 0x20 && c < 0x7f) || c == '\n' || c == '\r' || c == '\t';
}

constexpr char kHex[] = "0123456789abcdef";

void AppendHex(std::string& out, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 15];
    }
}

void AppendMs(std::string& out, double ms) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%.3f", ms < 0 ? 0.0 : ms);
    out.append(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1; // upper case is not ours: the format has one spelling
}

// Reads the line field by field; every method fails with a message that
// names the column.
class Cursor {
public:
    explicit Cursor(std::string_view line) : m_line(line) {}

    bool AtEnd() const { return m_pos == m_line.size(); }
    bool Fail(std::string& error, std::string_view what) const {
        error = std::string(what) + " at column " + std::to_string(m_pos + 1);
        return false;
    }
    // "key=" at the cursor (after one space unless at the start).
    bool Key(std::string_view key) {
        std::size_t p = m_pos;
        if (p > 0) {
            if (p >= m_line.size() || m_line[p] != ' ')
                return false;
            ++p;
        }
        if (m_line.substr(p, key.size()) != key || p + key.size() >= m_line.size() ||
            m_line[p + key.size()] != '=')
            return false;
        m_pos = p + key.size() + 1;
        return true;
    }
    // Up to the next space or the end; never empty.
    std::optional<std::string_view> Word() {
        const std::size_t stop = std::min(m_line.find(' ', m_pos), m_line.size());
        if (stop == m_pos)
            return std::nullopt;
        const std::string_view word = m_line.substr(m_pos, stop - m_pos);
        m_pos = stop;
        return word;
    }
    std::optional<std::string_view> Peek() const {
        Cursor copy = *this;
        return copy.Word();
    }
    // An unsigned decimal number (no sign, no leading '+').
    bool Unsigned(std::uint64_t& value) {
        const auto word = Word();
        if (!word)
            return false;
        const auto [stop, ec] = std::from_chars(word->data(), word->data() + word->size(), value);
        return ec == std::errc() && stop == word->data() + word->size();
    }
    // Milliseconds as the writer prints them: digits, '.', three digits.
    bool Millis(double& value) {
        const auto word = Word();
        if (!word || word->size() < 5 || word->size() > 20 || (*word)[word->size() - 4] != '.')
            return false;
        for (std::size_t i = 0; i < word->size(); ++i)
            if (i != word->size() - 4 && ((*word)[i] < '0' || (*word)[i] > '9'))
                return false;
        const auto [stop, ec] = std::from_chars(word->data(), word->data() + word->size(), value);
        return ec == std::errc() && stop == word->data() + word->size();
    }
    bool Hex(std::string& bytes, std::size_t maxBytes) {
        const auto word = Word();
        if (!word || word->size() % 2 != 0 || word->size() / 2 > maxBytes)
            return false;
        bytes.clear();
        for (std::size_t i = 0; i < word->size(); i += 2) {
            const int hi = HexValue((*word)[i]);
            const int lo = HexValue((*word)[i + 1]);
            if (hi < 0 || lo < 0)
                return false;
            bytes += static_cast<char>(hi * 16 + lo);
        }
        return true;
    }
    // A quoted, escaped string (see AppendEscaped) of at most maxBytes.
    bool Quoted(std::string& bytes, std::size_t maxBytes) {
        bytes.clear();
        if (m_pos >= m_line.size() || m_line[m_pos] != '"')
            return false;
        ++m_pos;
        while (m_pos < m_line.size()) {
            const char c = m_line[m_pos++];
            if (c == '"')
                return true;
            if (bytes.size() == maxBytes)
                return false;
            if (c != '\\') {
                if (!IsTextByte(static_cast<std::uint8_t>(c)) || c == '\t' || c == '\r' ||
                    c == '\n')
                    return false;
                bytes += c;
                continue;
            }
            if (m_pos >= m_line.size())
                return false;
            switch (m_line[m_pos++]) {
            case 'n':
                bytes += '\n';
                break;
            case 'r':
                bytes += '\r';
                break;
            case 't':
                bytes += '\t';
                break;
            case '\\':
                bytes += '\\';
                break;
            case '"':
                bytes += '"';
                break;
            case 'x': {
                if (m_pos + 2 > m_line.size())
                    return false;
                const int hi = HexValue(m_line[m_pos]);
                const int lo = HexValue(m_line[m_pos + 1]);
                if (hi < 0 || lo < 0)
                    return false;
                bytes += static_cast<char>(hi * 16 + lo);
                m_pos += 2;
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

private:
    std::string_view m_line;
    std::size_t m_pos = 0;
};

bool ParsePayload(Cursor& cursor, Payload& payload, std::string& error) {
    payload = Payload{};
    if (cursor.Key("text")) {
        payload.kind = Payload::Kind::Text;
        if (!cursor.Quoted(payload.text, kMaxTextBytes))
            return cursor.Fail(error, "bad text");
        return true;
    }
    if (!cursor.Key("bin"))
        return cursor.Fail(error, "expected text= or bin=");
    payload.kind = Payload::Kind::Binary;
    if (!cursor.Unsigned(payload.size) || payload.size > 0xFFFFFFFFull)
        return cursor.Fail(error, "bad length");
    if (!cursor.Key("head") || !cursor.Hex(payload.head, kEdgeBytes))
        return cursor.Fail(error, "bad head=");
    if (!cursor.Key("tail") || !cursor.Hex(payload.tail, kEdgeBytes))
        return cursor.Fail(error, "bad tail=");
    const std::size_t edge =
        static_cast<std::size_t>(std::min<std::uint64_t>(payload.size, kEdgeBytes));
    if (payload.head.size() != edge || payload.tail.size() != edge)
        return cursor.Fail(error, "head or tail does not fit the length");
    std::string fnv;
    if (!cursor.Key("fnv") || !cursor.Hex(fnv, 8) || fnv.size() != 8)
        return cursor.Fail(error, "bad fnv=");
    for (const char c : fnv)
        payload.fnv = (payload.fnv << 8) | static_cast<std::uint8_t>(c);
    if (cursor.Key("at")) {
        std::uint64_t at = 0;
        if (!cursor.Unsigned(at) || at > (1ull << 48))
            return cursor.Fail(error, "bad at=");
        payload.at = at;
    }
    return true;
}

bool ParseHeader(std::string_view line, Header& header, std::string& error) {
    Cursor cursor(line.substr(kHeaderMagic.size() + 1));
    std::uint64_t version = 0;
    if (!cursor.Unsigned(version) || version != static_cast<std::uint64_t>(kFormatVersion))
        return cursor.Fail(error, "unknown log format version");
    header.version = kFormatVersion;
    header.dataFile.clear();
    if (cursor.Key("data")) {
        const auto name = cursor.Word();
        if (!name || name->size() > 255 || name->find('/') != std::string_view::npos)
            return cursor.Fail(error, "bad data file name");
        header.dataFile = *name;
    }
    // Free words may follow (the writer's process id and start time).
    return true;
}

} // namespace

std::string_view OpName(Op op) {
    return kOpNames[static_cast<std::size_t>(op)];
}

std::string_view EndName(End end) {
    return kEndNames[static_cast<std::size_t>(end)];
}

std::uint64_t Fnv1a64(const std::uint8_t* data, std::size_t size, std::uint64_t hash) {
    // Eight bytes (little endian) per step, the rest one by one: a 4 MB
    // payload costs an eighth of the multiplications of the byte-wise form.
    constexpr std::uint64_t kPrime = 0x100000001b3ull;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word = 0;
        for (int b = 7; b >= 0; --b)
            word = (word << 8) | data[i + static_cast<std::size_t>(b)];
        hash ^= word;
        hash *= kPrime;
    }
    for (; i < size; ++i) {
        hash ^= data[i];
        hash *= kPrime;
    }
    return hash;
}

bool ShowsAsText(const std::uint8_t* data, std::size_t size) {
    if (size <= kAlwaysTextBytes)
        return true;
    if (size > kMaxTextBytes)
        return false;
    std::size_t other = 0;
    for (std::size_t i = 0; i < size; ++i)
        other += IsTextByte(data[i]) ? 0 : 1;
    return other * 16 <= size;
}

void AppendEscaped(std::string& out, const std::uint8_t* data, std::size_t size) {
    out += '"';
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t c = data[i];
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out += static_cast<char>(c);
            } else {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            }
        }
    }
    out += '"';
}

std::string FormatHeader(const Header& header) {
    std::string line = std::string(kHeaderMagic) + " " + std::to_string(header.version);
    if (!header.dataFile.empty())
        line += " data=" + header.dataFile;
    return line;
}

std::string FormatLine(const Record& record, const std::uint8_t* data, std::size_t size) {
    std::string line;
    line.reserve(160 + (size <= kMaxTextBytes ? size * 2 : 0));
    line += "t=";
    AppendMs(line, record.tMs);
    line += " s=" + std::to_string(record.session);
    line += " rsrc=";
    // A resource string is one word of printable characters here, whatever
    // the caller passed to viOpen.
    std::string resource = record.resource.substr(0, kMaxResourceLength);
    for (char& c : resource)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            c = '_';
    line += resource.empty() ? std::string("-") : resource;
    line += " op=";
    line += OpName(record.op);
    line += " status=" + record.status;
    line += " dur=";
    AppendMs(line, record.durMs);
    if (record.end != End::None) {
        line += " end=";
        line += EndName(record.end);
    }
    if (record.op == Op::Write || record.op == Op::Read) {
        if (ShowsAsText(data, size)) {
            line += " text=";
            AppendEscaped(line, data, size);
        } else {
            line += " bin=" + std::to_string(size) + " head=";
            const std::size_t edge = std::min(size, kEdgeBytes);
            AppendHex(line, data, edge);
            line += " tail=";
            AppendHex(line, data + size - edge, edge);
            char fnv[17];
            std::snprintf(fnv, sizeof fnv, "%016llx",
                          static_cast<unsigned long long>(Fnv1a64(data, size)));
            line += " fnv=";
            line += fnv;
            if (record.payload.at)
                line += " at=" + std::to_string(*record.payload.at);
        }
    }
    line += '\n';
    return line;
}

std::optional<LineKind> ParseLine(std::string_view line, Header& header, Record& record,
                                  std::string& error) {
    if (line.size() > kMaxLineLength) {
        error = "line longer than " + std::to_string(kMaxLineLength) + " characters";
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1); // a log that passed through an editor or a mail
    if (line.empty())
        return LineKind::Blank;
    if (line.front() == '#') {
        if (line.substr(0, kHeaderMagic.size()) == kHeaderMagic &&
            line.size() > kHeaderMagic.size() && line[kHeaderMagic.size()] == ' ') {
            if (!ParseHeader(line, header, error))
                return std::nullopt;
            return LineKind::Header;
        }
        return LineKind::Comment;
    }
    record = Record{};
    Cursor cursor(line);
    const auto fail = [&](std::string_view what) -> std::optional<LineKind> {
        cursor.Fail(error, what);
        return std::nullopt;
    };
    std::uint64_t number = 0;
    if (!cursor.Key("t") || !cursor.Millis(record.tMs))
        return fail("expected t=<ms>");
    if (!cursor.Key("s") || !cursor.Unsigned(number) || number > 0xFFFFFFFFull)
        return fail("expected s=<session>");
    record.session = static_cast<unsigned>(number);
    const auto resource = cursor.Key("rsrc") ? cursor.Word() : std::nullopt;
    if (!resource || resource->size() > kMaxResourceLength)
        return fail("expected rsrc=<resource>");
    record.resource = *resource == "-" ? std::string() : std::string(*resource);
    const auto op = cursor.Key("op") ? cursor.Word() : std::nullopt;
    bool known = false;
    for (std::size_t i = 0; op && i < kOpNames.size(); ++i)
        if (*op == kOpNames[i]) {
            record.op = static_cast<Op>(i);
            known = true;
        }
    if (!known)
        return fail("expected op=<operation>");
    const auto status = cursor.Key("status") ? cursor.Word() : std::nullopt;
    if (!status || status->size() > 64 || status->substr(0, 3) != "VI_")
        return fail("expected status=VI_...");
    record.status = *status;
    if (!cursor.Key("dur") || !cursor.Millis(record.durMs))
        return fail("expected dur=<ms>");
    if (cursor.Key("end")) {
        const auto end = cursor.Word();
        bool valid = false;
        for (std::size_t i = 1; end && i < kEndNames.size(); ++i)
            if (*end == kEndNames[i]) {
                record.end = static_cast<End>(i);
                valid = true;
            }
        if (!valid || (record.op == Op::Write && record.end == End::Term))
            return fail("bad end=");
    }
    if (record.op == Op::Write || record.op == Op::Read) {
        if (!ParsePayload(cursor, record.payload, error))
            return std::nullopt;
    }
    if (!cursor.AtEnd())
        return fail("unexpected text");
    return LineKind::Record;
}

} // namespace quarvel::visa::iolog
