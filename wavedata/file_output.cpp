#include "wavedata/file_output.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> g_tempCounter{0};

// Loops over partial writes and EINTR.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

CReplacingFile::~CReplacingFile() {
    Abandon();
}

bool CReplacingFile::Open(const std::string& path) {
    Abandon();
    m_target = path;
    m_failed = false;
    // O_EXCL with a process- and call-specific name: an existing file of the
    // same name is never touched; mode 0666 lets the umask decide as for any
    // newly created file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_tempPath = path + ".tmp" + std::to_string(::getpid()) + "-" +
                     std::to_string(g_tempCounter.fetch_add(1));
        m_fd = ::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    m_tempPath.clear();
    m_failed = true;
    return false;
}

bool CReplacingFile::Write(const char* data, std::size_t size) {
    if (m_fd < 0 || m_failed) {
        return false;
    }
    if (!WriteAll(m_fd, data, size)) {
        m_failed = true;
    }
    return !m_failed;
}

bool CReplacingFile::Commit() {
    if (m_fd < 0) {
        return false;
    }
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (m_failed || !closed || std::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
        return false;
    }
    m_tempPath.clear();
    return true;
}

void CReplacingFile::Abandon() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

bool WriteNewFile(const std::string& path, const void* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, static_cast<const char*>(data), size);
    const bool closed = ::close(fd) == 0;
    return written && closed;
}
