#pragma once

#include "instr/failure.h"
#include "visa/visa.h"
#include "wavedata/waveform_record.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using ByteBuffer = std::vector<std::uint8_t>;

// Rescaling of a screen image before display: the source rectangle of the
// decoded image and the size of the image that replaces it.
struct ScreenshotResize {
    std::int32_t srcX = 0;
    std::int32_t srcY = 0;
    std::int32_t srcWidth = 0;
    std::int32_t srcHeight = 0;
    std::int32_t outWidth = 0;
    std::int32_t outHeight = 0;
};

// Base of every instrument driver. Each operation has a default behaviour, so
// a family overrides only what its instruments can do. The driver uses the
// connection's VISA session and never opens or closes it.
class CInstrLL {
public:
    static constexpr ViUInt32 IMAGE_BUFFER_CAPACITY = 4000000;
    // I/O timeout in force around every image and waveform transfer, unless
    // SetTransferTimeout chose another.
    static constexpr ViUInt32 TRANSFER_TIMEOUT_MS = 30000;

    CInstrLL();
    virtual ~CInstrLL();
    CInstrLL(const CInstrLL&) = delete;
    CInstrLL& operator=(const CInstrLL&) = delete;

    // True when the instrument was running, i.e. must be restarted afterwards.
    virtual bool StopInstrument();
    // run false: nothing sent, false. Otherwise single or continuous run.
    virtual bool RunInstrument(bool run, bool single);
    // On success appends the image file bytes to `out` in one piece.
    virtual bool GetScreenshot(ByteBuffer& out);
    virtual void SetInkSaver(bool on);
    virtual ScreenshotResize GetScreenshotResize() const;
    virtual bool NeedsScreenshotResize() const;
    virtual void GetActiveChannels(ChannelList& out);
    virtual void GetChannelList(ChannelList& out);
    virtual bool GetWaveformData(const std::string& channel, WaveformRecord& out);
    virtual bool BeginDataCapture();
    virtual bool EndDataCapture();
    // Why the last GetWaveformData failed, naming what went wrong ("" when
    // the family gives no reason).
    const std::string& WaveformFailure() const { return m_waveformFailure; }
    // Asked between the pages of a paged transfer: when it turns true the
    // channel's read stops after the current page and gives no record.
    void SetCancelCheck(std::function<bool()> cancelled) { m_cancelled = std::move(cancelled); }

    void SetSession(ViSession session) { m_session = session; }
    ViSession GetSession() const { return m_session; }
    void SetModel(const std::string& model) { m_model = model; }
    const std::string& GetModel() const { return m_model; }
    // The timeout raised around image and waveform transfers; tests shorten
    // it to see a stalled transfer fail without waiting half a minute.
    void SetTransferTimeout(ViUInt32 ms) { m_transferTimeoutMs = ms; }
    ViUInt32 GetTransferTimeout() const { return m_transferTimeoutMs; }

    // Why the last operation that returned false failed, as the base helpers
    // (SendCommand, QueryStateWord, QueryInteger, TransferScreenImage, ...)
    // recorded it: the first failure since ClearFailure counts. A driver
    // deriving from this class gets it by using the helpers; Failed() is
    // false when nothing was recorded.
    const quarvel::instr::Failure& LastFailure() const { return m_failure; }
    // Forgets the failure (also the VISA session's record of its last one);
    // the caller does so before each operation whose reason it will show.
    void ClearFailure();

    // Raises the session's timeout for a transfer and puts the saved value
    // back when it goes, on every path; Raised() is false when the timeout
    // could not be read or set (then nothing is put back).
    class TransferTimeout {
    public:
        TransferTimeout(ViSession session, ViUInt32 ms);
        ~TransferTimeout();
        TransferTimeout(const TransferTimeout&) = delete;
        TransferTimeout& operator=(const TransferTimeout&) = delete;
        bool Raised() const { return m_raised; }

    private:
        ViSession m_session;
        ViUInt32 m_saved = 0;
        bool m_raised = false;
    };

protected:
    // How the image bytes arrive once the image query has been sent.
    enum class ImageRead {
        Block,              // IEEE 488.2 definite-length block, "%#b\n"
        BlockAndWhiteSpace, // the same, then any white space after it, "%#b \n"
        Raw,                // viRead to the end of the message; a full buffer fails
        // A block as BlockAndWhiteSpace, or the bare BMP file (a reply that
        // starts with "BM"), read to the length its header gives.
        BlockOrRawBmp,
        // The bare PNG file, read chunk by chunk to the end of its IEND
        // chunk (instr/instr_ll_png.cpp); what follows it is the reply's tail.
        PngChunks,
    };
    // The family-specific steps of a screen-image transfer. A step returns
    // false when one of its commands failed.
    struct ImageTransferSteps {
        std::function<bool()> setUp; // before the timeout is raised; may be empty
        std::function<bool()> query; // after the timeout is raised
        ImageRead read = ImageRead::Block;
    };

    // The screen-image transfer every family uses: image buffer (allocated
    // once, its count reset to the capacity), set-up, timeout saved and raised
    // to the transfer timeout, query, write buffer flushed, image read, read
    // buffer flushed, timeout restored, image appended to `out` in one piece.
    // The timeout is restored on every path, failure included; nothing is
    // appended on failure, and LastFailure says why.
    bool TransferScreenImage(ByteBuffer& out, const ImageTransferSteps& steps);

    // The raw variant of the image read: to the end of the message, or of
    // the PNG file where the transport has no END; VI_SUCCESS only when the
    // image is complete within the buffer.
    ViStatus ReadRawImage();
    // The bare-BMP variant: exactly the file length the BMP header gives
    // (bounded by the image buffer); the reply's terminator, if any, is no
    // part of the image.
    ViStatus ReadRawBmpImage();
    // The bare-PNG variant: exactly the file its chunks make up (bounded by
    // the image buffer), whatever follows it and whether or not the
    // transport has END.
    ViStatus ReadPngImage();

    // Sends `command` followed by a line feed (ending the message). The text
    // goes as an argument, never as the format, so '%' and '\\' pass unchanged.
    ViStatus SendCommand(const char* command) const;
    // Sends the commands in order; false at the first that fails.
    bool SendCommands(std::initializer_list<const char*> commands) const;
    // Sends `query` and reads one word of its reply (a run state, a trigger
    // mode) into `word`, after an echo of the query's header; false when
    // either step fails.
    bool QueryStateWord(const char* query, std::string& word) const;
    // Sends `query` and reads the integer of its reply ("+1", "*OPC 1");
    // false when either step fails or the reply holds no integer.
    bool QueryInteger(const char* query, std::int32_t& value) const;
    // Sends `stopCommand`, then "*OPC?", which only waits until the stop has
    // taken effect. Best effort: neither status is examined.
    void StopBestEffort(const char* stopCommand) const;

    // The step a failure is reported in while the object lives ("reading
    // the preamble of CHAN2"); steps nest, the innermost names the failure.
    class Step {
    public:
        Step(const CInstrLL& driver, std::string step);
        ~Step();
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        const CInstrLL& m_driver;
        std::string m_outer;
    };
    // Records why the operation failed, unless a failure is recorded already:
    // the VISA session's last failed exchange when there is one (status,
    // command, time waited), otherwise `status` after the last command sent.
    // kind None takes the kind from the status.
    void NoteFailure(ViStatus status,
                     quarvel::instr::FailureKind kind = quarvel::instr::FailureKind::None,
                     std::string detail = {}) const;
    // After a command got no answer or a wrong one: when the family has an
    // error query (m_errorQuery), the device is cleared and the query asked
    // (2 s at most); an error it names turns the failure into a refused
    // command with the instrument's words.
    void AskWhyRefused() const;
    // The family's error query: ":SYST:ERR?" (SCPI-1999, SYSTem:ERRor[:NEXT]?;
    // replies `<code>,"<text>"`, 0 for none), "*ESR?" (IEEE 488.2, the event
    // status register: command, execution and query errors), or null.
    const char* m_errorQuery = ":SYST:ERR?";

    ViSession m_session = 0;
    ViUInt32 m_transferTimeoutMs = TRANSFER_TIMEOUT_MS;
    std::unique_ptr<ViByte[]> m_imageBuffer;
    // Count of the image buffer: its capacity before each read, the bytes
    // stored after it.
    ViUInt32 m_imageBufferSize = IMAGE_BUFFER_CAPACITY;
    bool m_hardcopyReady = false;
    bool m_inkSaver = false;
    bool m_resizeImage = false;
    ChannelList m_channelNames;
    std::string m_waveformFailure;
    std::function<bool()> m_cancelled;
    ScreenshotResize m_resize;
    std::string m_model;

private:
    mutable quarvel::instr::Failure m_failure;
    mutable std::string m_step;
    mutable std::string m_lastCommand;
};
