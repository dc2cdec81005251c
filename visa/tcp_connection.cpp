#include "visa/tcp_connection.h"

#include "visa/progress.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace quarvel::visa {

namespace {

// Milliseconds left for poll(); -1 waits without limit.
int PollTimeout(Deadline deadline) {
    if (deadline == Deadline::max())
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0;
    return static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
}

ViStatus StatusOfErrno(int error) {
    switch (error) {
    case ECONNRESET:
    case EPIPE:
    case ENOTCONN:
    case ECONNABORTED:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return VI_ERROR_CONN_LOST;
    default:
        return VI_ERROR_IO;
    }
}

bool ConnectOne(const addrinfo& ai, Deadline deadline, int& fdOut) {
    const int fd =
        socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0)
        return false;
    if (connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            close(fd);
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        int rc;
        do {
            rc = poll(&p, 1, PollTimeout(deadline));
        } while (rc < 0 && errno == EINTR);
        int error = 0;
        socklen_t len = sizeof error;
        if (rc <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            close(fd);
            return false;
        }
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fdOut = fd;
    return true;
}

} // namespace

ViStatus TcpConnection::Connect(const std::string& host, std::uint16_t port, Deadline deadline,
                                std::unique_ptr<TcpConnection>& connection) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr)
        return VI_ERROR_RSRC_NFOUND;
    int fd = -1;
    for (addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        ConnectOne(*ai, deadline, fd);
    }
    freeaddrinfo(list);
    if (fd < 0)
        return VI_ERROR_RSRC_NFOUND;
    connection.reset(new TcpConnection(fd));
    return VI_SUCCESS;
}

std::unique_ptr<TcpConnection> TcpConnection::Adopt(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    return std::unique_ptr<TcpConnection>(new TcpConnection(fd));
}

TcpConnection::~TcpConnection() {
    if (m_fd >= 0)
        close(m_fd);
}

namespace {

bool Reporting(const ProgressMeter* progress) {
    return progress != nullptr && progress->Active();
}

} // namespace

ViStatus TcpConnection::Wait(short events, Deadline deadline, ProgressMeter* progress) {
    pollfd p{m_fd, events, 0};
    for (;;) {
        // A progress handler gets its turn even while nothing arrives, and
        // a viClose from another thread ends the wait (ProgressMeter::Interrupt).
        if (progress != nullptr && progress->Cancelled())
            return VI_ERROR_ABORT;
        const Deadline wake = progress != nullptr
                                  ? std::min(deadline, std::chrono::steady_clock::now() +
                                                           ProgressMeter::kWakeInterval)
                                  : deadline;
        const int rc = poll(&p, 1, PollTimeout(wake));
        if (rc > 0)
            return VI_SUCCESS;
        if (rc == 0) {
            if (progress == nullptr || std::chrono::steady_clock::now() >= deadline)
                return VI_ERROR_TMO;
            if (const ViStatus s = progress->Waiting(); s != VI_SUCCESS)
                return s;
            continue;
        }
        if (errno != EINTR)
            return VI_ERROR_IO;
    }
}

ViStatus TcpConnection::SendAll(std::span<const std::span<const std::uint8_t>> parts,
                                Deadline deadline, ProgressMeter* progress) {
    std::size_t sent = 0;
    return SendAll(parts, deadline, progress, sent);
}

ViStatus TcpConnection::SendAll(std::span<const std::span<const std::uint8_t>> parts,
                                Deadline deadline, ProgressMeter* progress, std::size_t& total) {
    total = 0;
    const bool reporting = Reporting(progress);
    std::vector<iovec> iov;
    for (const auto& part : parts)
        if (!part.empty())
            iov.push_back({const_cast<std::uint8_t*>(part.data()), part.size()});
    std::size_t first = 0;
    while (first < iov.size()) {
        msghdr msg{};
        msg.msg_iov = iov.data() + first;
        msg.msg_iovlen = std::min<std::size_t>(iov.size() - first, IOV_MAX);
        // Reported sends go at most one piece at a time: the part that
        // crosses the limit is shortened for this call only.
        std::size_t shortened = iov.size();
        std::size_t fullLength = 0;
        if (reporting) {
            std::size_t budget = progress->PieceLimit();
            for (std::size_t i = 0; i < msg.msg_iovlen; ++i) {
                iovec& part = iov[first + i];
                if (part.iov_len >= budget) {
                    shortened = first + i;
                    fullLength = part.iov_len;
                    part.iov_len = budget;
                    msg.msg_iovlen = i + 1;
                    break;
                }
                budget -= part.iov_len;
            }
        }
        const ssize_t sent = sendmsg(m_fd, &msg, MSG_NOSIGNAL);
        const int error = errno;
        if (shortened < iov.size())
            iov[shortened].iov_len = fullLength;
        if (sent < 0) {
            if (error == EINTR)
                continue;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                if (const ViStatus s = Wait(POLLOUT, deadline, progress); s != VI_SUCCESS)
                    return s;
                continue;
            }
            return StatusOfErrno(error);
        }
        total += static_cast<std::size_t>(sent);
        if (reporting)
            if (const ViStatus s = progress->Sent(static_cast<std::size_t>(sent)); s != VI_SUCCESS)
                return s;
        std::size_t left = static_cast<std::size_t>(sent);
        while (first < iov.size() && left >= iov[first].iov_len) {
            left -= iov[first].iov_len;
            ++first;
        }
        if (left > 0) {
            iov[first].iov_base = static_cast<std::uint8_t*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return VI_SUCCESS;
}

ViStatus TcpConnection::SendAll(const std::uint8_t* data, std::size_t size, Deadline deadline,
                                ProgressMeter* progress) {
    const std::span<const std::uint8_t> part(data, size);
    return SendAll(std::span<const std::span<const std::uint8_t>>(&part, 1), deadline, progress);
}

ViStatus TcpConnection::WaitReadable(Deadline deadline, ProgressMeter* progress) {
    return Wait(POLLIN, deadline, progress);
}

ViStatus TcpConnection::ReceiveSome(std::uint8_t* data, std::size_t capacity, Deadline deadline,
                                    std::size_t& received, ProgressMeter* progress) {
    received = 0;
    if (capacity == 0)
        return VI_SUCCESS;
    const bool reporting = Reporting(progress);
    if (reporting)
        capacity = std::min(capacity, progress->PieceLimit());
    for (;;) {
        const ssize_t n = recv(m_fd, data, capacity, 0);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return reporting ? progress->Received(received) : VI_SUCCESS;
        }
        if (n == 0)
            return VI_ERROR_CONN_LOST;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return StatusOfErrno(errno);
        if (const ViStatus s = Wait(POLLIN, deadline, progress); s != VI_SUCCESS)
            return s;
    }
}

ViStatus TcpConnection::ReceiveExact(std::uint8_t* data, std::size_t size, Deadline deadline,
                                     ProgressMeter* progress) {
    std::size_t done = 0;
    while (done < size) {
        std::size_t n = 0;
        if (const ViStatus s = ReceiveSome(data + done, size - done, deadline, n, progress);
            s != VI_SUCCESS)
            return s;
        done += n;
    }
    return VI_SUCCESS;
}

void TcpConnection::DiscardPending(std::size_t limit) {
    std::uint8_t scratch[4096];
    while (limit > 0) {
        const ssize_t n = recv(m_fd, scratch, std::min(limit, sizeof scratch), MSG_DONTWAIT);
        if (n <= 0)
            return;
        limit -= static_cast<std::size_t>(n);
    }
}

} // namespace quarvel::visa
