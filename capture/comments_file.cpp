#include "capture/comments_file.h"

#include "capture/file_naming.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The file's bytes for UTF-8 `text`: LF becomes CR LF, code points up to
// U+00FF their Latin-1 byte, everything else (and undecodable bytes) "?".
std::string ToFileBytes(const std::string& text) {
    std::string bytes;
    bytes.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t codePoint = lead;
        std::size_t length = 1;
        if (lead >= 0xC0 && lead < 0xF8) {
            length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            codePoint = lead & (0x3Fu >> (length - 1));
            bool valid = i + length <= text.size();
            for (std::size_t k = 1; valid && k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                valid = (next & 0xC0) == 0x80;
                codePoint = (codePoint << 6) | (next & 0x3Fu);
            }
            if (!valid) {
                length = 1;
                codePoint = 0xFFFD;
            }
        } else if (lead >= 0x80) {
            codePoint = 0xFFFD;
        }
        if (codePoint == '\n')
            bytes += "\r\n";
        else if (codePoint <= 0xFF)
            bytes += static_cast<char>(codePoint);
        else
            bytes += '?';
        i += length;
    }
    return bytes;
}

class EntryWriter {
public:
    explicit EntryWriter(std::FILE* file) : m_file(file) {}

    // Writes a piece that starts with its line feed and widens the rule to
    // the piece's length without that line feed.
    void WriteLine(const std::string& piece) {
        Write(piece);
        m_ruleWidth = std::max(m_ruleWidth, Utf16Length(piece) - 1);
    }

    void Write(const std::string& text) {
        const std::string bytes = ToFileBytes(text);
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size())
            m_ok = false;
    }

    void Widen(std::size_t width) { m_ruleWidth = std::max(m_ruleWidth, width); }
    std::size_t RuleWidth() const { return m_ruleWidth; }
    bool Ok() const { return m_ok; }

private:
    std::FILE* m_file;
    std::size_t m_ruleWidth = 0;
    bool m_ok = true;
};

} // namespace

bool AppendCommentsEntry(const std::string& path, const CommentsEntry& entry, std::time_t when) {
    if (path.empty())
        return false;
    // Append mode never truncates and puts every write at the end.
    FilePtr file(std::fopen(path.c_str(), "ab"));
    if (!file)
        return false;

    EntryWriter writer(file.get());
    writer.WriteLine("\n* File name: " + entry.fileName);
    if (!entry.dataFileName.empty())
        writer.WriteLine("\n* Data file name: " + entry.dataFileName);
    std::string stamp;
    ExpandTimeFormat("%Y-%m-%dT%H%M%S", when, stamp);
    writer.WriteLine("\n* Timestamp: " + stamp);
    if (!entry.instrumentId.empty())
        writer.WriteLine("\n* Instrument ID: " + entry.instrumentId);

    std::string piece = "\n* Comments:\n" + entry.comments;
    std::erase(piece, '\r');
    // Only lines ended by a line feed are measured.
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        if (piece[i] != '\n')
            continue;
        writer.Widen(Utf16Length(piece.substr(lineStart, i - lineStart)));
        lineStart = i + 1;
    }
    writer.Write(piece);
    writer.Write("\n" + std::string(writer.RuleWidth(), '-') + "\n");

    const bool flushed = std::fflush(file.get()) == 0;
    return writer.Ok() && flushed;
}

bool AppendCommentsEntry(const std::string& path, const CommentsEntry& entry) {
    return AppendCommentsEntry(path, entry, std::time(nullptr));
}
