#include "sim/transcript.h"

#include <fcntl.h>
#include <unistd.h>

namespace quarvel::sim {

Transcript::~Transcript() {
    if (m_fd >= 0)
        close(m_fd);
}

bool Transcript::Open(const std::string& path) {
    m_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return m_fd >= 0;
}

void Transcript::Record(std::string_view message) {
    if (m_fd < 0)
        return;
    std::string line(message);
    line += '\n';
    // One write per line keeps lines whole when connections record at once.
    std::lock_guard lock(m_mutex);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(m_fd, line.data() + done, line.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

} // namespace quarvel::sim
