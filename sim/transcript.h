#pragma once

// The transcript: every program message received, one per line, appended and
// flushed as it arrives. The file is opened with O_APPEND, so a test may
// truncate it between steps and later lines still start at its new end.

#include <mutex>
#include <string>
#include <string_view>

namespace quarvel::sim {

class Transcript {
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // False (with errno set) when the file cannot be opened.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    void Record(std::string_view message);

private:
    int m_fd = -1;
    std::mutex m_mutex;
};

} // namespace quarvel::sim
