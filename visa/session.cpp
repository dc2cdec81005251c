#include "visa/session.h"

#include "codec/ieee488_block.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace quarvel::visa {

namespace {

constexpr std::size_t kWriteBufferSize = 64 * 1024;
constexpr std::size_t kReadBufferSize = 64 * 1024;
// viSetBuf refuses larger formatted buffers.
constexpr std::size_t kMaxBufferSize = 64 * 1024 * 1024;

iolog::End LogEnd(ReadEnd end) {
    switch (end) {
    case ReadEnd::End:
        return iolog::End::Yes;
    case ReadEnd::TermChar:
        return iolog::End::Term;
    case ReadEnd::None:
        break;
    }
    return iolog::End::No;
}

} // namespace

Session::Session(std::unique_ptr<ITransport> transport, const SessionSettings& settings)
    : m_transport(std::move(transport)), m_settings(settings), m_writeBufferSize(kWriteBufferSize),
      m_read(kReadBufferSize) {
    m_settings.progress = &m_progress;
}

ViStatus Session::SetReadBufferSize(std::size_t size) {
    if (size == 0 || size > kMaxBufferSize)
        return VI_ERROR_ALLOC;
    m_read.assign(size, 0);
    DiscardRead();
    m_blockLeft = 0;
    m_lastEnd = ReadEnd::End;
    return VI_SUCCESS;
}

ViStatus Session::SetWriteBufferSize(std::size_t size) {
    if (size == 0 || size > kMaxBufferSize)
        return VI_ERROR_ALLOC;
    const ViStatus s = FlushWrite(false);
    m_writeBufferSize = size;
    return s;
}

ViStatus Session::Put(const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t n = std::min(size, m_writeBufferSize - m_write.size());
        m_write.append(data, n);
        data += n;
        size -= n;
        if (m_write.size() >= m_writeBufferSize)
            if (const ViStatus s = FlushWrite(false); s != VI_SUCCESS)
                return s;
    }
    return VI_SUCCESS;
}

ViStatus Session::FlushWrite(bool endOfMessage) {
    if (m_write.empty() && !endOfMessage)
        return VI_SUCCESS;
    DropEndedReply();
    const ViStatus s = TransportWrite(reinterpret_cast<const std::uint8_t*>(m_write.data()),
                                      m_write.size(), endOfMessage);
    m_write.clear();
    return s;
}

ViStatus Session::WriteMessage(const std::uint8_t* data, std::size_t size, bool end) {
    DropEndedReply();
    return TransportWrite(data, size, end);
}

void Session::NoteFailure(ViStatus s, bool reading) {
    if (s >= VI_SUCCESS)
        return;
    using Ms = std::chrono::milliseconds;
    m_lastFailure.status = s;
    m_lastFailure.reading = reading;
    m_lastFailure.waitedMs = static_cast<std::uint32_t>(
        std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - m_callStart).count());
    m_lastFailure.bytesRead = m_callBytesRead;
    m_lastFailure.command = m_lastCommand;
}

ViStatus Session::TransportWrite(const std::uint8_t* data, std::size_t size, bool endOfMessage) {
    m_progress.StartWrite(size);
    // What the user will recognise the exchange by: the command's first line,
    // at most 120 characters.
    if (m_writeStartsMessage) {
        constexpr std::size_t kKept = 120;
        const auto* text = reinterpret_cast<const char*>(data);
        const std::string_view first(text, std::min(size, kKept));
        m_lastCommand.assign(first.substr(0, first.find('\n')));
    }
    m_writeStartsMessage = endOfMessage;
    if (!iolog::Running()) {
        const ViStatus s = m_transport->Write(data, size, endOfMessage, m_settings);
        NoteFailure(s, false);
        return Abandoned(s);
    }
    const iolog::Clock::time_point start = iolog::Clock::now();
    const ViStatus s = m_transport->Write(data, size, endOfMessage, m_settings);
    NoteFailure(s, false);
    // What the transport took: all of it or, on failure, not known to have gone.
    iolog::Note(m_logSubject, iolog::Op::Write, start, s,
                endOfMessage ? iolog::End::Yes : iolog::End::No, data, size);
    return Abandoned(s);
}

ViStatus Session::Abandoned(ViStatus s) {
    if (s == VI_ERROR_ABORT && m_progress.Cancelled()) {
        m_write.clear();
        m_pos = m_end = 0;
        m_pendingBlock = 0;
        m_blockLeft = 0;
        m_lastEnd = ReadEnd::End;
        m_tailMayFollow = false; // the next reply comes on a new connection
    }
    return s;
}

void Session::ExpectBlockData(std::uint64_t dataLength) {
    // The meter counts the reply from its first byte; what is buffered but
    // not yet consumed lies after the header.
    const std::uint64_t buffered = (m_end - m_pos) + m_transport->Buffered();
    const std::uint64_t done = m_progress.Done();
    m_progress.SetExpected(done - std::min(done, buffered) + dataLength);
}

void Session::DropEndedReply() {
    ConsumeTail();
    if (m_lastEnd != ReadEnd::None && m_pendingBlock == 0 && m_blockLeft == 0)
        m_pos = m_end = 0;
}

void Session::EndOfReplyData() {
    if (m_transport->SignalsEnd() || m_pendingBlock > 0 || m_lastEnd == ReadEnd::End)
        return;
    m_tailMayFollow = true;
    ConsumeTail();
    if (m_pos == m_end)
        m_lastEnd = ReadEnd::TermChar;
}

void Session::ConsumeTail() {
    while (m_tailMayFollow && m_pos < m_end) {
        const std::uint8_t c = m_read[m_pos];
        if (c != '\0' && c != '\r' && c != '\n') {
            m_tailMayFollow = false; // no (more) tail: this is the next reply
            break;
        }
        ++m_pos;
        if (c == '\n')
            m_tailMayFollow = false;
    }
}

ViStatus Session::SkipTail() {
    while (m_tailMayFollow) {
        if (m_pos < m_end)
            ConsumeTail();
        else if (const ViStatus s = Fill(); s != VI_SUCCESS)
            return s;
    }
    return VI_SUCCESS;
}

ViStatus Session::TransportRead(std::uint8_t* data, std::size_t size, ReadMode mode,
                                ReadResult& result) {
    m_progress.StartRead();
    const bool logged = iolog::Running();
    const iolog::Clock::time_point start =
        logged ? iolog::Clock::now() : iolog::Clock::time_point();
    const ViStatus s = m_transport->Read(data, size, mode, m_settings, result);
    m_callBytesRead += result.count;
    NoteFailure(s, true);
    if (logged)
        iolog::Note(m_logSubject, iolog::Op::Read, start, s, LogEnd(result.end), data,
                    result.count);
    if (s == VI_SUCCESS || result.count > 0)
        m_lastEnd = result.end;
    return Abandoned(s);
}

ViStatus Session::Fill() {
    m_pos = m_end = 0;
    if (CallTimeUp()) {
        NoteFailure(VI_ERROR_TMO, true);
        return VI_ERROR_TMO;
    }
    ReadResult result;
    const ViStatus s = TransportRead(m_read.data(), m_read.size(), ReadMode::Message, result);
    m_end = result.count;
    ConsumeTail();
    return s;
}

ViStatus Session::Peek(std::uint8_t& c) {
    while (m_pos == m_end)
        if (const ViStatus s = Fill(); s != VI_SUCCESS)
            return s;
    c = m_read[m_pos];
    return VI_SUCCESS;
}

void Session::DropTrailingSpaceOfEndedReply() {
    if (m_lastEnd == ReadEnd::None || m_pendingBlock > 0)
        return;
    for (std::size_t i = m_pos; i < m_end; ++i) {
        const std::uint8_t c = m_read[i];
        if (c != ' ' && (c < '\t' || c > '\r'))
            return;
    }
    m_pos = m_end;
}

ViStatus Session::ReadBlockData(std::uint8_t* data, std::size_t size, std::size_t& got,
                                bool& ended) {
    got = std::min(size, m_end - m_pos);
    std::memcpy(data, m_read.data() + m_pos, got);
    m_pos += got;
    ended = false;
    if (m_pos == m_end) {
        // A line feed that ended the last fill was block data, not the end.
        if (m_lastEnd == ReadEnd::TermChar)
            m_lastEnd = ReadEnd::None;
        if (m_lastEnd == ReadEnd::End && got < size) {
            ended = true;
            return VI_SUCCESS;
        }
    }
    while (got < size) {
        ReadResult result;
        const ViStatus s = TransportRead(data + got, size - got, ReadMode::Raw, result);
        got += result.count;
        if (s != VI_SUCCESS)
            return s;
        if (result.end == ReadEnd::End) {
            ended = true;
            break;
        }
    }
    // Block data is bounded by its header, so arriving data is progress, not
    // a trickle: what follows the block gets a whole timeout of its own. A
    // large block on a slow link may take longer than one timeout.
    m_callDeadline = DeadlineAfter(m_settings.timeoutMs);
    return VI_SUCCESS;
}

ViStatus Session::ReadToMessageEnd(std::uint8_t* data, std::size_t size, std::size_t& got,
                                   bool& ended) {
    got = std::min(size, m_end - m_pos);
    std::memcpy(data, m_read.data() + m_pos, got);
    m_pos += got;
    ended = m_pos == m_end && m_lastEnd != ReadEnd::None;
    while (!ended && got < size) {
        if (CallTimeUp()) {
            NoteFailure(VI_ERROR_TMO, true);
            return VI_ERROR_TMO;
        }
        ReadResult result;
        const ViStatus s = TransportRead(data + got, size - got, ReadMode::Message, result);
        got += result.count;
        if (s != VI_SUCCESS)
            return s;
        ended = result.end != ReadEnd::None;
    }
    return VI_SUCCESS;
}

bool Session::FramesBlocks() const {
    return !m_transport->SignalsEnd() || m_settings.termCharEnabled;
}

ViStatus Session::FillMore() {
    if (m_pos > 0) {
        std::memmove(m_read.data(), m_read.data() + m_pos, m_end - m_pos);
        m_end -= m_pos;
        m_pos = 0;
    }
    if (CallTimeUp())
        return VI_ERROR_TMO;
    ReadResult result;
    const ViStatus s =
        TransportRead(m_read.data() + m_end, m_read.size() - m_end, ReadMode::Message, result);
    m_end += result.count;
    return s;
}

ViStatus Session::LookForBlockHeader() {
    m_blockLeft = 0;
    for (;;) {
        const std::string_view seen(reinterpret_cast<const char*>(m_read.data() + m_pos),
                                    m_end - m_pos);
        BlockHeader header;
        switch (ParseBlockHeader(seen, header)) {
        case BlockHeaderResult::Ok:
            if (!header.indefinite)
                m_blockLeft = header.headerSize + header.dataLength;
            return VI_SUCCESS;
        case BlockHeaderResult::Invalid:
            return VI_SUCCESS;
        case BlockHeaderResult::NeedMore:
            // A message that ends within the header (or a buffer set too
            // small for one) holds no block.
            if ((!seen.empty() && m_lastEnd != ReadEnd::None) || m_end == m_read.size())
                return VI_SUCCESS;
            if (const ViStatus s = FillMore(); s != VI_SUCCESS)
                return s;
            break;
        }
    }
}

ViStatus Session::ReadMessage(std::uint8_t* data, std::size_t size, std::size_t& got) {
    got = 0;
    if (size == 0)
        return VI_SUCCESS_MAX_CNT;
    if (const ViStatus s = SkipTail(); s != VI_SUCCESS)
        return s;
    // A new reply when the last one is complete and nothing of it is left.
    if (m_blockLeft == 0 && AtMessageEnd()) {
        m_lastEnd = ReadEnd::None;
        if (FramesBlocks())
            if (const ViStatus s = LookForBlockHeader(); s != VI_SUCCESS)
                return s;
    }
    bool ended = false;
    if (m_blockLeft > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, m_blockLeft));
        const ViStatus s = ReadBlockData(data, want, got, ended);
        // A cancelled read has abandoned the reply, its block with it
        // (m_blockLeft is 0 then): nothing is left to count down.
        m_blockLeft -= std::min<std::uint64_t>(m_blockLeft, got);
        if (s != VI_SUCCESS)
            return s;
        if (ended) { // END inside the block: the device cut it short
            m_blockLeft = 0;
            return ReadCompletion(true);
        }
        if (got == size)
            return VI_SUCCESS_MAX_CNT;
    }
    std::size_t rest = 0;
    const ViStatus s = ReadToMessageEnd(data + got, size - got, rest, ended);
    got += rest;
    if (s != VI_SUCCESS)
        return s;
    return ReadCompletion(ended);
}

ViStatus Session::ReadCompletion(bool ended) const {
    if (!ended)
        return VI_SUCCESS_MAX_CNT;
    return m_lastEnd == ReadEnd::TermChar && m_settings.termCharEnabled ? VI_SUCCESS_TERM_CHAR
                                                                        : VI_SUCCESS;
}

ViStatus Session::ReadBuffered(std::uint8_t* data, std::size_t size, std::size_t& got) {
    got = 0;
    if (size == 0)
        return VI_SUCCESS_MAX_CNT;
    if (AtMessageEnd())
        m_lastEnd = ReadEnd::None;
    bool fresh = true;
    while (got < size) {
        if (m_pos == m_end) {
            // The message has ended (an empty one too, once it was read).
            if (m_lastEnd != ReadEnd::None && (got > 0 || !fresh))
                break;
            if (const ViStatus s = Fill(); s != VI_SUCCESS)
                return s;
            fresh = false;
            continue;
        }
        const std::size_t n = std::min(size - got, m_end - m_pos);
        std::memcpy(data + got, m_read.data() + m_pos, n);
        m_pos += n;
        got += n;
    }
    return ReadCompletion(m_pos == m_end && m_lastEnd != ReadEnd::None);
}

ViStatus Session::FlushRead() {
    // First the part of a block the caller had no room for: by its length,
    // since its bytes may contain line feeds.
    m_pendingBlock += m_blockLeft;
    m_blockLeft = 0;
    if (m_pendingBlock > 0) {
        const std::size_t fromBuffer =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_pendingBlock, m_end - m_pos));
        m_pos += fromBuffer;
        m_pendingBlock -= fromBuffer;
        if (m_pos == m_end && m_lastEnd == ReadEnd::TermChar)
            m_lastEnd = ReadEnd::None;
        std::vector<std::uint8_t> scratch(64 * 1024);
        while (m_pendingBlock > 0 && m_lastEnd != ReadEnd::End) {
            ReadResult result;
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(m_pendingBlock, scratch.size()));
            const ViStatus s = TransportRead(scratch.data(), n, ReadMode::Raw, result);
            m_pendingBlock -= std::min<std::uint64_t>(m_pendingBlock, result.count);
            if (s != VI_SUCCESS) {
                m_pendingBlock = 0;
                return s;
            }
        }
        m_pendingBlock = 0;
        EndOfReplyData();
    }
    ConsumeTail();
    // A device that never ends its message is cut off after one timeout.
    const Deadline deadline = DeadlineAfter(m_settings.timeoutMs);
    m_pos = m_end = 0;
    while (m_lastEnd == ReadEnd::None) {
        if (std::chrono::steady_clock::now() >= deadline)
            return VI_ERROR_TMO;
        const ViStatus s = Fill();
        m_pos = m_end = 0;
        if (s != VI_SUCCESS)
            return s;
    }
    return VI_SUCCESS;
}

void Session::DiscardRead() {
    ConsumeTail();
    m_pos = m_end = 0;
    m_pendingBlock = 0;
    m_blockLeft = 0;
}

ViStatus Session::Clear() {
    m_write.clear();
    m_pos = m_end = 0;
    m_pendingBlock = 0;
    m_blockLeft = 0;
    m_tailMayFollow = false;
    m_lastEnd = ReadEnd::End;
    if (!iolog::Running())
        return m_transport->Clear(m_settings);
    const iolog::Clock::time_point start = iolog::Clock::now();
    const ViStatus s = m_transport->Clear(m_settings);
    iolog::Note(m_logSubject, iolog::Op::Clear, start, s);
    return s;
}

} // namespace quarvel::visa
