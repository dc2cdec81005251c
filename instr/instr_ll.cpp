#include "instr/instr_ll.h"

#include "instr/bmp_extent.h"
#include "instr/png_extent.h"
#include "instr/retrieval_io.h"
#include "visa/visa_internal.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <string_view>
#include <utility>

namespace {

// Replies read as a word or an integer are short; anything longer is no
// such reply.
constexpr std::size_t kStateReplyLimit = 255;

} // namespace

CInstrLL::CInstrLL() = default;

CInstrLL::~CInstrLL() = default;

bool CInstrLL::StopInstrument() {
    return false;
}

bool CInstrLL::RunInstrument(bool /*run*/, bool /*single*/) {
    return false;
}

bool CInstrLL::GetScreenshot(ByteBuffer& /*out*/) {
    return false;
}

void CInstrLL::SetInkSaver(bool on) {
    m_inkSaver = on;
}

ScreenshotResize CInstrLL::GetScreenshotResize() const {
    return m_resize;
}

bool CInstrLL::NeedsScreenshotResize() const {
    return m_resizeImage;
}

void CInstrLL::GetActiveChannels(ChannelList& /*out*/) {}

void CInstrLL::GetChannelList(ChannelList& /*out*/) {}

bool CInstrLL::GetWaveformData(const std::string& /*channel*/, WaveformRecord& /*out*/) {
    return false;
}

bool CInstrLL::BeginDataCapture() {
    return false;
}

bool CInstrLL::EndDataCapture() {
    return false;
}

void CInstrLL::ClearFailure() {
    m_failure = quarvel::instr::Failure{};
    qviClearLastFailure(m_session);
}

CInstrLL::TransferTimeout::TransferTimeout(ViSession session, ViUInt32 ms) : m_session(session) {
    m_raised = viGetAttribute(session, VI_ATTR_TMO_VALUE, &m_saved) == VI_SUCCESS &&
               viSetAttribute(session, VI_ATTR_TMO_VALUE, ms) == VI_SUCCESS;
}

CInstrLL::TransferTimeout::~TransferTimeout() {
    if (m_raised)
        viSetAttribute(m_session, VI_ATTR_TMO_VALUE, m_saved);
}

CInstrLL::Step::Step(const CInstrLL& driver, std::string step)
    : m_driver(driver), m_outer(std::exchange(driver.m_step, std::move(step))) {}

CInstrLL::Step::~Step() {
    m_driver.m_step = std::move(m_outer);
}

void CInstrLL::NoteFailure(ViStatus status, quarvel::instr::FailureKind kind,
                           std::string detail) const {
    using quarvel::instr::FailureKind;
    if (m_failure.Failed())
        return;
    quarvel::instr::Failure failure;
    QviLastFailure last{};
    if (qviGetLastFailure(m_session, &last) == VI_SUCCESS && last.status < VI_SUCCESS) {
        failure.status = last.status;
        failure.command = last.command;
        failure.waitedMs = last.waitedMs;
        failure.bytesRead = last.bytesRead;
    } else {
        failure.status = status;
        failure.command = m_lastCommand;
    }
    failure.kind = kind != FailureKind::None ? kind : quarvel::instr::KindOfStatus(failure.status);
    if (failure.kind == FailureKind::None)
        failure.kind = FailureKind::NotUnderstood; // every status fine, the reply not
    failure.step = m_step;
    failure.detail = std::move(detail);
    m_failure = std::move(failure);
}

void CInstrLL::AskWhyRefused() const {
    using quarvel::instr::FailureKind;
    if (m_errorQuery == nullptr || !m_failure.Failed() ||
        (m_failure.kind != FailureKind::Timeout && m_failure.kind != FailureKind::NotAnImage &&
         m_failure.kind != FailureKind::NotUnderstood) ||
        m_failure.bytesRead > 0)
        return;
    constexpr ViUInt32 kErrorQueryTimeoutMs = 2000;
    const TransferTimeout shortTimeout(m_session, kErrorQueryTimeoutMs);
    // A late reply to the failed command must not be taken for the answer.
    viClear(m_session);
    std::string reply;
    if (!quarvel::wavedata::QueryLine(m_session, m_errorQuery, kStateReplyLimit, reply))
        return;
    if (std::string_view(m_errorQuery) == "*ESR?") {
        // Bits 5, 4 and 2: command, execution and query error.
        std::int32_t esr = 0;
        const auto [end, ec] = std::from_chars(reply.data(), reply.data() + reply.size(), esr);
        if (ec != std::errc() || (esr & 0x34) == 0)
            return;
        m_failure.detail = "*ESR? " + std::to_string(esr) + " (" +
                           ((esr & 0x20)   ? "command error"
                            : (esr & 0x10) ? "execution error"
                                           : "query error") +
                           ")";
    } else {
        // `<code>,"<text>"`: 0 means no error.
        std::int32_t code = 0;
        const char* begin = reply.data() + (reply.rfind('+', 0) == 0 ? 1 : 0);
        const auto [end, ec] = std::from_chars(begin, reply.data() + reply.size(), code);
        if (ec != std::errc() || code == 0)
            return;
        m_failure.detail = reply;
    }
    m_failure.kind = FailureKind::CommandRefused;
}

ViStatus CInstrLL::SendCommand(const char* command) const {
    m_lastCommand = command;
    const ViStatus status = viPrintf(m_session, "%s\n", command);
    if (status != VI_SUCCESS)
        NoteFailure(status);
    return status;
}

bool CInstrLL::SendCommands(std::initializer_list<const char*> commands) const {
    for (const char* command : commands)
        if (SendCommand(command) != VI_SUCCESS)
            return false;
    return true;
}

bool CInstrLL::QueryStateWord(const char* query, std::string& word) const {
    m_lastCommand = std::string(query).substr(0, std::string_view(query).find('\n'));
    if (quarvel::wavedata::QueryWord(m_session, query, kStateReplyLimit, word))
        return true;
    NoteFailure(VI_ERROR_INV_FMT);
    return false;
}

bool CInstrLL::QueryInteger(const char* query, std::int32_t& value) const {
    m_lastCommand = std::string(query).substr(0, std::string_view(query).find('\n'));
    if (quarvel::wavedata::QueryInt32(m_session, query, value))
        return true;
    NoteFailure(VI_ERROR_INV_FMT);
    return false;
}

void CInstrLL::StopBestEffort(const char* stopCommand) const {
    SendCommand(stopCommand);
    std::int32_t complete = 0;
    QueryInteger("*OPC?", complete);
}

ViStatus CInstrLL::ReadRawImage() {
    // Only a read that ends with its message is a success: VI_SUCCESS_MAX_CNT
    // means the image did not fit into the buffer.
    ViStatus status = viRead(m_session, m_imageBuffer.get(), m_imageBufferSize, &m_imageBufferSize);
    // A raw socket has no END, so its reads also end at each line feed of the
    // PNG file; the rest follows until the file's own end. Over VXI-11 the
    // first read already holds the whole file.
    while (status == VI_SUCCESS && IsUnfinishedPng(m_imageBuffer.get(), m_imageBufferSize)) {
        ViUInt32 more = 0;
        status = viRead(m_session, m_imageBuffer.get() + m_imageBufferSize,
                        IMAGE_BUFFER_CAPACITY - m_imageBufferSize, &more);
        m_imageBufferSize += more;
        if (status == VI_SUCCESS && more == 0)
            return VI_ERROR_IO; // an empty message inside a file: not an image
    }
    // Over a raw socket the instrument ends its reply with a line feed after
    // the file; that terminator is not part of the image.
    const std::size_t pngLength = CompletePngLength(m_imageBuffer.get(), m_imageBufferSize);
    if (status == VI_SUCCESS && pngLength != 0) {
        const std::string_view rest(reinterpret_cast<const char*>(m_imageBuffer.get()) + pngLength,
                                    m_imageBufferSize - pngLength);
        if (rest == "\n" || rest == "\r\n")
            m_imageBufferSize = static_cast<ViUInt32>(pngLength);
    }
    return status;
}

ViStatus CInstrLL::ReadRawBmpImage() {
    using quarvel::instr::kBmpFileHeaderSize;
    ViByte* image = m_imageBuffer.get();
    if (!quarvel::wavedata::ReadExactly(m_session, image, kBmpFileHeaderSize))
        return VI_ERROR_IO;
    const std::uint32_t length = quarvel::instr::BmpFileLength(image, kBmpFileHeaderSize);
    if (length == 0 || length > IMAGE_BUFFER_CAPACITY)
        return VI_ERROR_INV_FMT;
    // The file states its size: progress shows it.
    qviExpectReplyData(m_session, length - kBmpFileHeaderSize);
    if (!quarvel::wavedata::ReadExactly(m_session, image + kBmpFileHeaderSize,
                                        length - kBmpFileHeaderSize))
        return VI_ERROR_IO;
    m_imageBufferSize = length;
    return qviEndOfReplyData(m_session);
}

bool CInstrLL::TransferScreenImage(ByteBuffer& out, const ImageTransferSteps& steps) {
    using quarvel::instr::FailureKind;
    ClearFailure();
    // One buffer for the life of the driver, so a capture allocates nothing
    // for the transfer. The previous read left its image length in the count.
    if (!m_imageBuffer) {
        try {
            m_imageBuffer = std::make_unique_for_overwrite<ViByte[]>(IMAGE_BUFFER_CAPACITY);
        } catch (const std::bad_alloc&) {
            NoteFailure(VI_ERROR_ALLOC);
            return false;
        }
    }
    m_imageBufferSize = IMAGE_BUFFER_CAPACITY;

    {
        const Step step(*this, "preparing the screen image");
        if (steps.setUp && !steps.setUp()) {
            NoteFailure(VI_ERROR_IO);
            return false;
        }
    }
    const Step step(*this, "waiting for the screen image");
    // Put back when the transfer ends, however it ends.
    const TransferTimeout timeout(m_session, m_transferTimeoutMs);
    if (!timeout.Raised()) {
        NoteFailure(VI_ERROR_IO);
        return false;
    }
    if (!steps.query || !steps.query()) {
        NoteFailure(VI_ERROR_IO);
        return false;
    }
    viFlush(m_session, VI_WRITE_BUF);

    ViStatus status = VI_SUCCESS;
    switch (steps.read) {
    case ImageRead::Block:
        status = viScanf(m_session, "%#b\n", &m_imageBufferSize, m_imageBuffer.get());
        break;
    case ImageRead::BlockAndWhiteSpace:
        status = viScanf(m_session, "%#b \n", &m_imageBufferSize, m_imageBuffer.get());
        break;
    case ImageRead::Raw:
        status = ReadRawImage();
        break;
    case ImageRead::BlockOrRawBmp:
        // The block read leaves a reply that does not start with '#' unread.
        status = viScanf(m_session, "%#b \n", &m_imageBufferSize, m_imageBuffer.get());
        if (status == VI_ERROR_INV_FMT)
            status = ReadRawBmpImage();
        break;
    case ImageRead::PngChunks:
        status = ReadPngImage();
        break;
    }
    if (status != VI_SUCCESS) {
        QviLastFailure last{};
        qviGetLastFailure(m_session, &last);
        if (status == VI_ERROR_INV_FMT || (last.status >= VI_SUCCESS && status == VI_ERROR_IO)) {
            // The link is fine; what came is no image. Show its start.
            std::string start;
            ViByte head[24];
            ViUInt32 got = 0;
            const TransferTimeout quick(m_session, 200);
            if (viBufRead(m_session, head, sizeof head, &got) >= VI_SUCCESS)
                start = quarvel::instr::ShowBytes(head, got);
            viFlush(m_session, VI_READ_BUF_DISCARD);
            qviClearLastFailure(m_session);
            NoteFailure(status, FailureKind::NotAnImage, start);
        } else {
            NoteFailure(status);
        }
        AskWhyRefused();
        return false;
    }
    // Whatever the block left of the reply (its line feed, or the part of an
    // over-long image beyond the capacity) is read and dropped here.
    viFlush(m_session, VI_READ_BUF);

    const ViUInt32 count = std::min(m_imageBufferSize, IMAGE_BUFFER_CAPACITY);
    try {
        out.insert(out.end(), m_imageBuffer.get(), m_imageBuffer.get() + count);
    } catch (const std::bad_alloc&) {
        NoteFailure(VI_ERROR_ALLOC);
        return false; // the caller's buffer could not grow; it is left as it was
    }
    return true;
}
