#pragma once

// One open instrument session: its transport, its settings and the formatted
// write and read buffers that viPrintf/viScanf/viQueryf work on.
//
// The read buffer is filled by transport reads that end at END, at the
// buffer's size, or (transports without END) at a line feed; the buffer
// remembers how its last fill ended, which tells the formatted reader where
// the current message ends. Large binary data bypasses the buffer and goes
// straight into the caller's memory.

#include "visa/io_log.h"
#include "visa/progress.h"
#include "visa/transport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarvel::visa {

class Session {
public:
    Session(std::unique_ptr<ITransport> transport, const SessionSettings& settings);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    SessionSettings& Settings() { return m_settings; }
    ITransport& Transport() { return *m_transport; }
    // viSetBuf: new sizes for the formatted buffers; what they held is
    // dropped (the write buffer is sent first).
    ViStatus SetReadBufferSize(std::size_t size);
    ViStatus SetWriteBufferSize(std::size_t size);
    // Starts the clock of one VISA call: however the device trickles data
    // (endless white space, a reply that never ends), buffer fills stop
    // with VI_ERROR_TMO once the call has taken the session timeout since
    // it began or since its last block was read (a block's length bounds it).
    void BeginCall() {
        m_callStart = std::chrono::steady_clock::now();
        m_callDeadline = m_callStart + std::chrono::milliseconds(m_settings.timeoutMs);
        m_callReads = 0;
        m_callBytesRead = 0;
        m_progress.BeginCall();
    }
    ProgressMeter& Progress() { return m_progress; }
    // The handle and resource string the I/O log names this session by.
    void SetLogSubject(iolog::Subject subject) { m_logSubject = std::move(subject); }
    const iolog::Subject& LogSubject() const { return m_logSubject; }

    // The last transport write or read that failed (qviGetLastFailure): its
    // status, whether it was a read, how long its VISA call had waited, the
    // bytes that call had read, and the start of the message last sent.
    struct Failure {
        ViStatus status = VI_SUCCESS;
        bool reading = false;
        std::uint32_t waitedMs = 0;
        std::uint64_t bytesRead = 0;
        std::string command;
    };
    const Failure& LastFailure() const { return m_lastFailure; }
    void ClearLastFailure() { m_lastFailure = Failure{}; }

    // ------------------------------------------------------ writing ----
    // Appends to the formatted write buffer; a full buffer is sent (without END).
    ViStatus Put(const char* data, std::size_t size);
    // Sends the write buffer, with END when endOfMessage.
    ViStatus FlushWrite(bool endOfMessage);
    void DiscardWrite() { m_write.clear(); }
    bool HasPendingWrite() const { return !m_write.empty(); }
    // viWrite: the bytes as one message, with END when end (VI_ATTR_SEND_END_EN);
    // the formatted write buffer is not involved.
    ViStatus WriteMessage(const std::uint8_t* data, std::size_t size, bool end);

    // ------------------------------------------------------ reading ----
    // True when the buffer is empty and the last read ended a message.
    bool AtMessageEnd() const { return m_pos == m_end && m_lastEnd != ReadEnd::None; }
    bool HasBuffered() const { return m_pos < m_end; }
    // Refills the empty buffer (a new message if the last one has ended).
    ViStatus Fill();
    // The next byte, filling when the buffer is empty.
    ViStatus Peek(std::uint8_t& c);
    std::uint8_t PeekBuffered() const { return m_read[m_pos]; }
    void Advance() { ++m_pos; }

    // Block data of a known length: first from the buffer, then straight from
    // the transport into data (raw: line feeds end nothing). Stops early when
    // the device signals END; ended tells so.
    ViStatus ReadBlockData(std::uint8_t* data, std::size_t size, std::size_t& got, bool& ended);
    // Data up to the end of the message (at most size bytes); ended tells
    // whether the message end was reached.
    ViStatus ReadToMessageEnd(std::uint8_t* data, std::size_t size, std::size_t& got, bool& ended);
    // When all that is left of a complete reply is white space, drops it.
    void DropTrailingSpaceOfEndedReply();
    // The header of a block of dataLength bytes has just been read: the
    // reply's length is now known to the progress meter.
    void ExpectBlockData(std::uint64_t dataLength);
    // The caller has read a header of its own (a block header read byte by
    // byte, a file header): remaining more data bytes follow what it took.
    void ExpectRemainingData(std::uint64_t remaining) {
        m_progress.ExpectRemaining(remaining, (m_end - m_pos) + m_transport->Buffered());
    }
    // Bytes of a block that the caller had no room for; skipped by FlushRead.
    void SetPendingBlockBytes(std::uint64_t n) { m_pendingBlock = n; }
    // The caller has taken all the data of the current reply by a length of
    // its own (a definite-length block, a file that states its size). What
    // follows is the reply's terminator, and firmware differs there: a line
    // feed, NULs before it (00 00 0A), or nothing at all. With END the rest
    // is read up to it as usual. Without END nothing says whether a
    // terminator will come, so nothing waits for one: the reply counts as
    // complete, and NULs, CRs and one line feed at the start of the next
    // reply are dropped as this reply's tail.
    void EndOfReplyData();

    // viRead: buffered bytes first, then transport reads to the end of the
    // message or the count. VI_SUCCESS when the message ended,
    // VI_SUCCESS_MAX_CNT when the count filled first, VI_SUCCESS_TERM_CHAR
    // when the enabled termination character ended it.
    //
    // Block framing: where a line feed could end a read inside binary data
    // (a transport without END, or an enabled termination character), a
    // read at the start of a reply that begins with a valid definite-length
    // block header ("#<n><length>") takes the header and the block's bytes
    // as data, whatever they hold, over as many calls as the caller needs;
    // the reply's own end (its terminator) then ends the read as usual.
    ViStatus ReadMessage(std::uint8_t* data, std::size_t size, std::size_t& got);
    // viBufRead: as ReadMessage, but every byte passes the formatted read
    // buffer, so formatted reads can go on where it stopped.
    ViStatus ReadBuffered(std::uint8_t* data, std::size_t size, std::size_t& got);

    // VI_READ_BUF: reads and drops everything up to the end of the message.
    ViStatus FlushRead();
    // VI_READ_BUF_DISCARD: drops the buffer without any I/O.
    void DiscardRead();

    // viClear: device clear and both buffers emptied.
    ViStatus Clear();

private:
    // The completion status of a read that ended (END or termination
    // character) or filled its count.
    ViStatus ReadCompletion(bool ended) const;
    ViStatus TransportRead(std::uint8_t* data, std::size_t size, ReadMode mode, ReadResult& result);
    ViStatus TransportWrite(const std::uint8_t* data, std::size_t size, bool endOfMessage);
    // After a cancel the transport drops the rest of the message; so does the
    // session with what it holds of it.
    ViStatus Abandoned(ViStatus s);
    // A new command makes the rest of an earlier, complete reply stale.
    void DropEndedReply();
    // Whether a line feed inside block data could end a read (see
    // ReadMessage), so that a reply's block header must frame it.
    bool FramesBlocks() const;
    // At the start of a reply: when it begins with a definite-length block
    // header, sets m_blockLeft to the header's and the data's size. Reads
    // only as far as needed to see the header whole.
    ViStatus LookForBlockHeader();
    // Appends the next transport read of the message to the buffer.
    ViStatus FillMore();
    // Drops the tail of a reply whose data ended (see EndOfReplyData) from
    // the front of the buffer; the first other byte, or the line feed, ends
    // the tail.
    void ConsumeTail();
    // Reads until the tail of the last reply is over, when one may follow.
    ViStatus SkipTail();

    std::unique_ptr<ITransport> m_transport;
    ProgressMeter m_progress;
    iolog::Subject m_logSubject;
    SessionSettings m_settings;
    std::string m_write;
    std::size_t m_writeBufferSize;
    std::vector<std::uint8_t> m_read;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    // How the most recent transport read ended; End before any read, as no
    // message is under way.
    ReadEnd m_lastEnd = ReadEnd::End;
    std::uint64_t m_pendingBlock = 0;
    // Bytes of the block at the start of the current reply (header and
    // data) that viRead has not returned yet (see ReadMessage).
    std::uint64_t m_blockLeft = 0;
    // The last reply's data ended without END; its terminator may follow.
    bool m_tailMayFollow = false;
    Deadline m_callDeadline = Deadline::max();
    std::chrono::steady_clock::time_point m_callStart;
    std::uint64_t m_callBytesRead = 0;
    // The start of the message being (or last) written, its first line only.
    std::string m_lastCommand;
    bool m_writeStartsMessage = true;
    Failure m_lastFailure;
    void NoteFailure(ViStatus s, bool reading);
    // Transport reads of the current call: the first is always tried, so a
    // zero timeout still takes what has already arrived.
    unsigned m_callReads = 0;
    bool CallTimeUp() {
        return m_callReads++ > 0 && std::chrono::steady_clock::now() >= m_callDeadline;
    }
};

} // namespace quarvel::visa
