#include "wavedata/data_writers.h"
#include "wavedata/file_output.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <vector>

namespace {

static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559,
              "FLOAT64 fields are IEEE 754 doubles");

// Raw files hold little-endian values: on a little-endian host that is the
// array's own memory, written in one call without a copy.
bool WriteDoubles(const std::string& path, const std::vector<double>& values) {
    if constexpr (std::endian::native == std::endian::little) {
        return WriteNewFile(path, values.data(), values.size() * sizeof(double));
    } else {
        std::vector<unsigned char> bytes(values.size() * sizeof(double));
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto bits = std::bit_cast<std::uint64_t>(values[i]);
            for (int b = 0; b < 8; ++b) {
                bytes[i * 8 + static_cast<std::size_t>(b)] =
                    static_cast<unsigned char>(bits >> (8 * b));
            }
        }
        return WriteNewFile(path, bytes.data(), bytes.size());
    }
}

class CDirfileOutput {
public:
    explicit CDirfileOutput(const std::string& directory) : m_directory(directory) {}

    void Float64(const std::string& field, const std::vector<double>& values) {
        if (!Acceptable(field)) {
            return;
        }
        AddLine(field, "FLOAT64");
        m_ok = WriteDoubles(m_directory + "/" + field, values) && m_ok;
    }
    void Uint8(const std::string& field, const std::vector<std::uint8_t>& values) {
        if (!Acceptable(field)) {
            return;
        }
        AddLine(field, "UINT8");
        m_ok = WriteNewFile(m_directory + "/" + field, values.data(), values.size()) && m_ok;
    }
    // The y field of a record; no field for a kind without samples.
    void Samples(const WaveformRecord& record) {
        const std::string field = record.name + ".dat";
        if (record.sampleKind == SAMPLE_KIND_DOUBLE) {
            Float64(field, record.y);
        } else if (record.sampleKind == SAMPLE_KIND_BYTE) {
            Uint8(field, record.bytes);
        }
    }
    bool Finish() {
        return WriteNewFile(m_directory + "/format", m_format.data(), m_format.size()) && m_ok;
    }

private:
    // A field name is a file name in the directory: a name that would leave
    // it (or name the format file) is refused and the dirfile reported failed.
    bool Acceptable(const std::string& field) {
        if (field.find('/') != std::string::npos || field == "format") {
            m_ok = false;
            return false;
        }
        return true;
    }

    // Format lines keep CR LF, as the data files of this program always have.
    void AddLine(const std::string& field, const char* type) {
        m_format += field + "\tRAW\t" + type + "\t1\r\n";
    }

    std::string m_directory;
    std::string m_format;
    bool m_ok = true;
};

} // namespace

bool WriteKstDirfile(const WaveformRecordList& records, const std::string& path) {
    if (records.empty() || path.empty()) {
        return false;
    }
    // One level, never an existing directory: what is there stays untouched.
    if (::mkdir(path.c_str(), 0777) != 0) {
        return false;
    }
    CDirfileOutput out(path);
    if (ShareXAxis(records)) {
        out.Float64("xaxis.dat", records.front().x);
        for (const WaveformRecord& record : records) {
            out.Samples(record);
        }
    } else {
        for (const WaveformRecord& record : records) {
            out.Float64(record.name + "_xaxis.dat", record.x);
            out.Samples(record);
        }
    }
    return out.Finish();
}
