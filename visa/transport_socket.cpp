// Raw TCP socket transport ("TCPIP::host::port::SOCKET"). A socket has no
// END signal: text replies end at the termination character (VI_ATTR_TERMCHAR,
// a line feed unless changed); binary block data is read by length
// (ReadMode::Raw), so line feeds inside it end nothing.

#include "visa/builtin_transports.h"
#include "visa/tcp_connection.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quarvel::visa {

namespace {

constexpr std::size_t kStageSize = 64 * 1024;

class SocketTransport final : public ITransport {
public:
    SocketTransport(std::unique_ptr<TcpConnection> connection, std::string host, std::uint16_t port)
        : m_connection(std::move(connection)), m_host(std::move(host)), m_port(port),
          m_stage(kStageSize) {}

    ViStatus Write(const std::uint8_t* data, std::size_t size, bool /*endOfMessage*/,
                   const SessionSettings& settings) override {
        if (const ViStatus s = Reconnect(settings); s != VI_SUCCESS)
            return s;
        return Dropped(m_connection->SendAll(data, size, DeadlineAfter(settings.timeoutMs),
                                             settings.progress));
    }

    ViStatus Read(std::uint8_t* data, std::size_t capacity, ReadMode mode,
                  const SessionSettings& settings, ReadResult& result) override {
        result = {};
        if (capacity == 0)
            return VI_SUCCESS;
        if (const ViStatus s = Reconnect(settings); s != VI_SUCCESS)
            return s;
        if (m_begin == m_end) {
            std::size_t received = 0;
            // Large raw reads go straight into the caller's memory.
            if (mode == ReadMode::Raw && capacity >= m_stage.size()) {
                const ViStatus s = Dropped(
                    m_connection->ReceiveSome(data, capacity, DeadlineAfter(settings.timeoutMs),
                                              received, settings.progress));
                result.count = s == VI_ERROR_ABORT ? 0 : received;
                return s;
            }
            const ViStatus s = Dropped(m_connection->ReceiveSome(m_stage.data(), m_stage.size(),
                                                                 DeadlineAfter(settings.timeoutMs),
                                                                 received, settings.progress));
            if (s != VI_SUCCESS)
                return s;
            m_begin = 0;
            m_end = received;
        }
        std::size_t n = std::min(capacity, m_end - m_begin);
        const std::uint8_t* from = m_stage.data() + m_begin;
        if (mode == ReadMode::Message) {
            if (const void* lf = std::memchr(from, settings.termChar, n)) {
                n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - from) + 1;
                result.end = ReadEnd::TermChar;
            }
        }
        std::memcpy(data, from, n);
        m_begin += n;
        result.count = n;
        return VI_SUCCESS;
    }

    std::size_t Buffered() const override { return m_end - m_begin; }

    ViStatus Clear(const SessionSettings& settings) override {
        // A socket has no device clear; drop what has arrived so the next
        // reply starts clean.
        m_begin = m_end = 0;
        if (!m_connection)
            return Reconnect(settings);
        m_connection->DiscardPending(16 * 1024 * 1024);
        return VI_SUCCESS;
    }
    bool SignalsEnd() const override { return false; }

private:
    // A socket has no way to stop a reply under way, and reading the rest of
    // a large one at the instrument's pace can take far longer than a cancel
    // may: the connection is closed instead, and the next call opens a new
    // one, on which nothing of the old reply arrives.
    ViStatus Dropped(ViStatus s) {
        if (s == VI_ERROR_ABORT) {
            m_connection.reset();
            m_begin = m_end = 0;
        }
        return s;
    }

    ViStatus Reconnect(const SessionSettings& settings) {
        if (m_connection)
            return VI_SUCCESS;
        if (TcpConnection::Connect(m_host, m_port, DeadlineAfter(settings.timeoutMs),
                                   m_connection) != VI_SUCCESS)
            return VI_ERROR_CONN_LOST;
        return VI_SUCCESS;
    }

    std::unique_ptr<TcpConnection> m_connection;
    std::string m_host;
    std::uint16_t m_port;
    std::vector<std::uint8_t> m_stage;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
};

} // namespace

ViStatus OpenSocketTransport(const ResourceName& name, const SessionSettings& settings,
                             std::unique_ptr<ITransport>& transport) {
    std::unique_ptr<TcpConnection> connection;
    const ViStatus s =
        TcpConnection::Connect(name.host, name.port, DeadlineAfter(settings.timeoutMs), connection);
    if (s != VI_SUCCESS)
        return s;
    transport = std::make_unique<SocketTransport>(std::move(connection), name.host, name.port);
    return VI_SUCCESS;
}

} // namespace quarvel::visa
