#pragma once

#include "instr/visa.h"
#include "wavedata/waveform_record.h"

#include <cstdint>
#include <memory>
#include <string>
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

    void SetSession(ViSession session) { m_session = session; }
    ViSession GetSession() const { return m_session; }
    void SetModel(const std::string& model) { m_model = model; }
    const std::string& GetModel() const { return m_model; }

protected:
    ViSession m_session = 0;
    std::unique_ptr<ViByte[]> m_imageBuffer;
    ViUInt32 m_imageBufferSize = 0;
    bool m_hardcopyReady = false;
    bool m_inkSaver = false;
    bool m_resizeImage = false;
    ChannelList m_channelNames;
    ScreenshotResize m_resize;
    std::string m_model;
};
