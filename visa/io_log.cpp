// The I/O log's writer: one file (and its side file) per process, written
// under one lock so that lines of concurrent sessions never interleave.

#include "visa/io_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel::visa::iolog {

namespace {

// Opens for appending, creating with mode 0666 less the umask; -1 and errno
// when it fails.
int OpenForAppend(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Log {
public:
    ViStatus Start(const std::string& path, bool withData, std::string& message) {
        std::lock_guard lock(m_mutex);
        CloseUnlocked();
        m_fd = OpenForAppend(path);
        if (m_fd < 0) {
            message = path + ": " + std::strerror(errno);
            return VI_ERROR_INV_PARAMETER;
        }
        Header header{kFormatVersion, {}};
        if (withData) {
            const std::string dataPath = path + ".data";
            m_dataFd = OpenForAppend(dataPath);
            struct stat st {};
            if (m_dataFd < 0 || ::fstat(m_dataFd, &st) != 0) {
                message = dataPath + ": " + std::strerror(errno);
                CloseUnlocked();
                return VI_ERROR_INV_PARAMETER;
            }
            // Appended to as the log is: offsets count from the file's start.
            m_dataOffset = static_cast<std::uint64_t>(st.st_size);
            header.dataFile = BaseName(dataPath);
        }
        m_path = path;
        m_start = Clock::now();
        std::string line = FormatHeader(header) + " pid=" + std::to_string(::getpid()) + "\n";
        WriteAll(m_fd, line.data(), line.size());
        g_running.store(true, std::memory_order_relaxed);
        return VI_SUCCESS;
    }

    void Stop() {
        std::lock_guard lock(m_mutex);
        CloseUnlocked();
    }

    std::string Path() {
        std::lock_guard lock(m_mutex);
        return m_path;
    }

    void SetListener(QviIoLogListener listener, ViAddr userData) {
        std::lock_guard lock(m_mutex);
        m_listener = listener;
        m_listenerData = userData;
    }

    void Write(Record& record, Clock::time_point start, const std::uint8_t* data,
               std::size_t size) {
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(m_mutex);
        if (m_fd < 0)
            return;
        using Ms = std::chrono::duration<double, std::milli>;
        record.tMs = Ms(start - m_start).count();
        record.durMs = Ms(now - start).count();
        const bool binary =
            (record.op == Op::Write || record.op == Op::Read) && !ShowsAsText(data, size);
        if (binary && m_dataFd >= 0 && WriteAll(m_dataFd, data, size)) {
            record.payload.at = m_dataOffset;
            m_dataOffset += size;
        }
        std::string line = FormatLine(record, data, size);
        WriteAll(m_fd, line.data(), line.size());
        if (m_listener != nullptr) {
            line.pop_back();
            m_listener(line.c_str(), m_listenerData);
        }
    }

private:
    void CloseUnlocked() {
        g_running.store(false, std::memory_order_relaxed);
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_dataFd >= 0)
            ::close(m_dataFd);
        m_fd = m_dataFd = -1;
        m_path.clear();
    }

    std::mutex m_mutex;
    int m_fd = -1;
    int m_dataFd = -1;
    std::uint64_t m_dataOffset = 0;
    std::string m_path;
    Clock::time_point m_start;
    QviIoLogListener m_listener = nullptr;
    ViAddr m_listenerData = nullptr;
};

Log& TheLog() {
    static Log log;
    return log;
}

} // namespace

void Note(const Subject& subject, Op op, Clock::time_point start, ViStatus status, End end,
          const std::uint8_t* data, std::size_t size) {
    if (!Running())
        return;
    Record record;
    record.session = static_cast<unsigned>(subject.session);
    record.resource = subject.resource;
    record.op = op;
    record.status = qviStatusName(status);
    record.end = end;
    TheLog().Write(record, start, data, size);
}

void StartFromEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* path = std::getenv("QUARVEL_IO_LOG");
        if (path == nullptr || *path == '\0' || Running())
            return;
        const char* data = std::getenv("QUARVEL_IO_LOG_DATA");
        const bool withData = data != nullptr && std::strcmp(data, "1") == 0;
        std::string message;
        if (TheLog().Start(path, withData, message) != VI_SUCCESS)
            std::fprintf(stderr, "QUARVEL_IO_LOG: %s; no I/O log is written\n", message.c_str());
    });
}

} // namespace quarvel::visa::iolog

ViStatus qviStartIoLog(ViConstString path, ViBoolean withData, ViChar message[]) {
    if (message != nullptr)
        message[0] = '\0';
    if (path == nullptr || *path == '\0')
        return VI_ERROR_INV_PARAMETER;
    std::string text;
    const ViStatus s = quarvel::visa::iolog::TheLog().Start(path, withData != VI_FALSE, text);
    if (message != nullptr)
        std::snprintf(message, QVI_MESSAGE_BUFLEN, "%s", text.c_str());
    return s;
}

ViStatus qviStopIoLog() {
    quarvel::visa::iolog::TheLog().Stop();
    return VI_SUCCESS;
}

ViStatus qviIoLogPath(ViChar path[], ViUInt32 size) {
    if (path == nullptr || size == 0)
        return VI_ERROR_INV_PARAMETER;
    std::snprintf(path, size, "%s", quarvel::visa::iolog::TheLog().Path().c_str());
    return VI_SUCCESS;
}

ViStatus qviSetIoLogListener(QviIoLogListener listener, ViAddr userData) {
    quarvel::visa::iolog::TheLog().SetListener(listener, userData);
    return VI_SUCCESS;
}
