#pragma once

#include <cstddef>
#include <string>

// A file written in large blocks that replaces its target only when it is
// complete: the bytes go to a fresh temporary file in the target's
// directory, which is renamed over the target by Commit(). A failure at any
// point leaves the target as it was and removes the temporary file.
class CReplacingFile {
public:
    CReplacingFile() = default;
    ~CReplacingFile();
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    // False when the temporary file cannot be created (missing directory,
    // no permission).
    bool Open(const std::string& path);
    // False (and the file is then failed for good) when a write fails.
    bool Write(const char* data, std::size_t size);
    // Closes the file and renames it over the target; false on any failure
    // seen since Open.
    bool Commit();

private:
    void Abandon();

    int m_fd = -1;
    bool m_failed = false;
    std::string m_target;
    std::string m_tempPath;
};

// Creates `path` (which must not exist) and writes `size` bytes in one go.
bool WriteNewFile(const std::string& path, const void* data, std::size_t size);
