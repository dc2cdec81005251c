#include "instr/instr_ll.h"

#include "instr/bmp_extent.h"
#include "instr/png_extent.h"
#include "instr/retrieval_io.h"

#include <algorithm>
#include <new>
#include <string_view>

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

ViStatus CInstrLL::SendCommand(const char* command) const {
    return viPrintf(m_session, "%s\n", command);
}

bool CInstrLL::SendCommands(std::initializer_list<const char*> commands) const {
    for (const char* command : commands)
        if (SendCommand(command) != VI_SUCCESS)
            return false;
    return true;
}

namespace {

// Replies read as a word or an integer are short; anything longer is no
// such reply.
constexpr std::size_t kStateReplyLimit = 255;

} // namespace

bool CInstrLL::QueryStateWord(const char* query, std::string& word) const {
    return quarvel::wavedata::QueryWord(m_session, query, kStateReplyLimit, word);
}

bool CInstrLL::QueryInteger(const char* query, std::int32_t& value) const {
    return quarvel::wavedata::QueryInt32(m_session, query, value);
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
    // One buffer for the life of the driver, so a capture allocates nothing
    // for the transfer. The previous read left its image length in the count.
    if (!m_imageBuffer) {
        try {
            m_imageBuffer = std::make_unique_for_overwrite<ViByte[]>(IMAGE_BUFFER_CAPACITY);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    m_imageBufferSize = IMAGE_BUFFER_CAPACITY;

    if (steps.setUp && !steps.setUp())
        return false;

    ViUInt32 savedTimeout = 0;
    if (viGetAttribute(m_session, VI_ATTR_TMO_VALUE, &savedTimeout) != VI_SUCCESS)
        return false;
    if (viSetAttribute(m_session, VI_ATTR_TMO_VALUE, m_transferTimeoutMs) != VI_SUCCESS)
        return false;

    // From here on a failure leaves the transfer timeout in place: the saved
    // value is restored only when the image has arrived.
    if (!steps.query || !steps.query())
        return false;
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
    if (status != VI_SUCCESS)
        return false;
    // Whatever the block left of the reply (its line feed, or the part of an
    // over-long image beyond the capacity) is read and dropped here.
    viFlush(m_session, VI_READ_BUF);

    if (viSetAttribute(m_session, VI_ATTR_TMO_VALUE, savedTimeout) != VI_SUCCESS)
        return false;

    const ViUInt32 count = std::min(m_imageBufferSize, IMAGE_BUFFER_CAPACITY);
    try {
        out.insert(out.end(), m_imageBuffer.get(), m_imageBuffer.get() + count);
    } catch (const std::bad_alloc&) {
        return false; // the caller's buffer could not grow; it is left as it was
    }
    return true;
}
