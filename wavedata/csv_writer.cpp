#include "wavedata/data_writers.h"
#include "wavedata/file_output.h"
#include "wavedata/number_text.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Lines are assembled in one large buffer and written in blocks of about
// this size; millions of samples are normal.
constexpr std::size_t FLUSH_SIZE = 1 << 20;

// The file's bytes: CR LF line ends on every platform, ';' between fields,
// no separator after the last field. Numbers are formatted straight into
// the buffer (no copy, no allocation per value).
class CCsvOutput {
public:
    explicit CCsvOutput(CReplacingFile& file) : m_file(file), m_buffer(FLUSH_SIZE + 4096, '\0') {}

    void Text(const std::string& text) {
        char* at = Room(text.size());
        std::memcpy(at, text.data(), text.size());
        m_used += text.size();
    }
    void Separator() {
        *Room(1) = ';';
        ++m_used;
    }
    void Unseparate() { --m_used; }
    void Number(double value) { m_used += FormatScientific(value, Room(SCIENTIFIC_TEXT_MAX)); }
    void Byte(std::uint8_t value) { m_used += FormatByteSample(value, Room(4)); }
    void Missing() { Text(kMissing); }
    void EndLine() {
        char* at = Room(2);
        at[0] = '\r';
        at[1] = '\n';
        m_used += 2;
        if (m_used >= FLUSH_SIZE) {
            Flush();
        }
    }
    bool Flush() {
        const bool ok = m_file.Write(m_buffer.data(), m_used);
        m_used = 0;
        return ok;
    }

private:
    inline static const std::string kMissing = "NA";

    // Where the next `size` bytes go: a line longer than the buffer's
    // slack (many records) makes it grow.
    char* Room(std::size_t size) {
        if (m_used + size > m_buffer.size()) {
            m_buffer.resize(std::max(2 * m_buffer.size(), m_used + size));
        }
        return m_buffer.data() + m_used;
    }

    CReplacingFile& m_file;
    std::string m_buffer;
    std::size_t m_used = 0;
};

// A sample of a record in its own form; "NA" when the record has fewer
// samples than x values (not produced by the retrieval, but never read
// past the end). Returns false for a kind that has no field.
bool Sample(CCsvOutput& out, const WaveformRecord& record, std::size_t j) {
    if (record.sampleKind == SAMPLE_KIND_DOUBLE) {
        if (j < record.y.size()) {
            out.Number(record.y[j]);
        } else {
            out.Missing();
        }
        return true;
    }
    if (record.sampleKind == SAMPLE_KIND_BYTE) {
        if (j < record.bytes.size()) {
            out.Byte(record.bytes[j]);
        } else {
            out.Missing();
        }
        return true;
    }
    return false;
}

void WriteSharedX(CCsvOutput& out, const WaveformRecordList& records) {
    const WaveformRecord& first = records.front();
    out.Text(first.xLabel);
    for (const WaveformRecord& record : records) {
        out.Separator();
        std::string field = record.name + "(" + record.yLabel;
        if (!record.yQualifier.empty()) {
            field += "/" + record.yQualifier;
        }
        field += ")";
        out.Text(field);
    }
    out.EndLine();

    for (std::size_t j = 0; j < first.x.size(); ++j) {
        out.Number(first.x[j]);
        for (const WaveformRecord& record : records) {
            out.Separator();
            if (!Sample(out, record, j)) {
                // A kind without a field: take the separator back.
                // (Cheaper than looking ahead, and rare.)
                out.Unseparate();
            }
        }
        out.EndLine();
    }
}

void WriteSeparateX(CCsvOutput& out, const WaveformRecordList& records) {
    bool firstField = true;
    for (const WaveformRecord& record : records) {
        if (!firstField) {
            out.Separator();
        }
        firstField = false;
        out.Text(record.name + "(" + record.xLabel + ");" + record.name + "(" + record.yLabel +
                 ")");
    }
    out.EndLine();

    // A line is written while any record still has a sample for it; the
    // first all-"NA" line ends the table and is not written.
    std::size_t longest = 0;
    for (const WaveformRecord& record : records) {
        longest = std::max(longest, record.x.size());
    }
    for (std::size_t j = 0; j < longest; ++j) {
        bool firstRecord = true;
        for (const WaveformRecord& record : records) {
            if (!firstRecord) {
                out.Separator();
            }
            firstRecord = false;
            if (j < record.x.size()) {
                out.Number(record.x[j]);
                out.Separator();
                // Byte records have no pair form in this layout: their
                // samples keep the byte form, so nothing is lost.
                if (!Sample(out, record, j)) {
                    out.Missing();
                }
            } else {
                out.Missing();
                out.Separator();
                out.Missing();
            }
        }
        out.EndLine();
    }
}

} // namespace

bool WriteCsvFile(const WaveformRecordList& records, const std::string& path) {
    if (records.empty()) {
        return false;
    }
    CReplacingFile file;
    if (!file.Open(path)) {
        return false;
    }
    CCsvOutput out(file);
    if (ShareXAxis(records)) {
        WriteSharedX(out, records);
    } else {
        WriteSeparateX(out, records);
    }
    const bool flushed = out.Flush();
    return file.Commit() && flushed;
}
