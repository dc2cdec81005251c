#include "instr/instr_defined.h"
#include "visa/visa_internal.h"

#include "instr/retrieval_channels.h"
#include "instr/retrieval_io.h"
#include "visa/ascii.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

using quarvel::instr::DefinitionStep;
using quarvel::instr::ImageFraming;

// Replies of a step's query ("*OPC?" and the like) are short; they are read
// and dropped.
constexpr std::size_t kStepReplyLimit = 255;
// Tries of the instrument file's delete command while the link times out.
constexpr int kDeleteAttempts = 3;

std::string Substituted(std::string text, std::string_view placeholder, const std::string& value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
    return text;
}

} // namespace

CInstrDefined::CInstrDefined(std::shared_ptr<const quarvel::instr::InstrumentDefinition> definition)
    : m_definition(std::move(definition)),
      m_waveformMethod(quarvel::instr::FindWaveformMethod(m_definition->waveformMethod)) {}

bool CInstrDefined::RunSteps(const std::vector<DefinitionStep>& steps,
                             const std::string& file) const {
    for (const DefinitionStep& step : steps) {
        if (step.command.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
            continue;
        }
        const std::string command = Substituted(step.command, "{file}", file);
        if (command.ends_with('?')) {
            std::string reply;
            if (!quarvel::wavedata::QueryLine(m_session, command, kStepReplyLimit, reply))
                return false;
        } else if (!quarvel::wavedata::SendText(m_session, command)) {
            return false;
        }
    }
    return true;
}

bool CInstrDefined::QueryRunning(bool& running) const {
    const auto& d = *m_definition;
    std::string word;
    if (!QueryStateWord(d.stateQuery.c_str(), word))
        return false;
    running =
        std::any_of(d.runningWords.begin(), d.runningWords.end(), [&](const std::string& name) {
            return quarvel::ascii::EqualsIgnoringCase(name, word);
        });
    return true;
}

void CInstrDefined::StopAndWait() const {
    // Best effort once the state is known, as the code families do: the
    // stop and its "*OPC?" wait.
    RunSteps(m_definition->stop, {});
    std::int32_t complete = 0;
    QueryInteger("*OPC?", complete);
}

bool CInstrDefined::StopInstrument() {
    const auto& d = *m_definition;
    if (!d.HasRunControl())
        return false;
    if (d.stateQuery.empty()) {
        // Nothing tells whether it ran: a capture restarts it, as the Rigol
        // DS driver does.
        return RunSteps(d.stop, {});
    }
    bool wasRunning = false;
    // Without the state the instrument is left as it is, and nothing will
    // restart it.
    if (!QueryRunning(wasRunning))
        return false;
    StopAndWait();
    return wasRunning;
}

bool CInstrDefined::RunInstrument(bool run, bool single) {
    const auto& d = *m_definition;
    if (!run || !d.HasRunControl())
        return false;
    return RunSteps(single ? d.single : d.run, {});
}

bool CInstrDefined::GetScreenshot(ByteBuffer& out) {
    const auto& d = *m_definition;
    // A name of this capture: the process and a count, so two programs (or
    // two captures) never share a file on the instrument.
    m_lastFile.clear();
    if (!d.instrumentFile.empty())
        m_lastFile =
            Substituted(d.instrumentFile, "{unique}",
                        "quarvel" + std::to_string(getpid()) + "_" + std::to_string(++m_captures));
    const std::string& file = m_lastFile;
    bool fileMayExist = false;

    ImageRead read = ImageRead::BlockAndWhiteSpace;
    switch (d.framing) {
    case ImageFraming::Block:
        read = ImageRead::BlockAndWhiteSpace;
        break;
    case ImageFraming::Raw:
        read = ImageRead::Raw;
        break;
    case ImageFraming::Png:
        read = ImageRead::PngChunks;
        break;
    case ImageFraming::Bmp:
        read = ImageRead::BlockOrRawBmp;
        break;
    }
    const ImageTransferSteps steps{
        .setUp = [&] { return RunSteps(m_inkSaver ? d.inkSaverOn : d.inkSaverOff, file); },
        .query =
            [&] {
                fileMayExist = !file.empty();
                return RunSteps(d.imageSteps, file) &&
                       quarvel::wavedata::SendText(m_session,
                                                   Substituted(d.imageQuery, "{file}", file));
            },
        .read = read,
    };
    const bool ok = TransferScreenImage(out, steps);
    if (fileMayExist)
        DeleteInstrumentFile(Substituted(d.deleteCommand, "{file}", file));
    return ok;
}

void CInstrDefined::DeleteInstrumentFile(const std::string& command) const {
    // The file goes whatever became of the read: a failed or cancelled
    // transfer must not leave captures to fill the instrument's disk. A
    // cancel stays asked for until the request ends (the window's and the
    // command line's handlers keep answering it), so the handler is stepped
    // around for the delete and put back afterwards.
    QviProgressHandler handler = nullptr;
    ViAddr userData = nullptr;
    const bool stepAround =
        qviGetProgressHandler(m_session, &handler, &userData) == VI_SUCCESS && handler != nullptr;
    if (stepAround)
        qviSetProgressHandler(m_session, nullptr, nullptr);
    viFlush(m_session, VI_READ_BUF_DISCARD);
    // After a cancel the link may first have to drop the rest of the
    // abandoned reply (HiSLIP reads up to its device clear's acknowledgement),
    // which a slow reply can make run into the timeout: the delete is then
    // tried again, each try going on with that.
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt)
        if (SendCommand(command.c_str()) != VI_ERROR_TMO)
            break;
    if (stepAround)
        qviSetProgressHandler(m_session, handler, userData);
}

quarvel::instr::WaveformAccess CInstrDefined::Access() const {
    return {.session = m_session,
            .definition = *m_definition,
            .model = m_model,
            .transferTimeoutMs = m_transferTimeoutMs,
            .cancelled = m_cancelled};
}

void CInstrDefined::GetChannelList(ChannelList& out) {
    out.clear();
    if (m_waveformMethod == nullptr)
        return;
    out = m_waveformMethod->offered != nullptr
              ? m_waveformMethod->offered(Access(), m_definition->waveformChannels)
              : m_definition->waveformChannels;
}

void CInstrDefined::GetActiveChannels(ChannelList& out) {
    out.clear();
    if (m_waveformMethod == nullptr)
        return;
    ChannelList offered;
    GetChannelList(offered);
    out = m_waveformMethod->active != nullptr ? m_waveformMethod->active(Access(), offered)
                                              : ChannelsDisplayed(m_session, offered);
}

bool CInstrDefined::BeginDataCapture() {
    m_captureState = {};
    if (m_waveformMethod == nullptr)
        return true;
    if (m_waveformMethod->begin != nullptr)
        return m_waveformMethod->begin(Access(), m_captureState);
    // The memory is read stopped: a running instrument is stopped for the
    // data and run again at the end. One the capture has stopped already
    // ("Stop instrument while capturing") is not stopped a second time.
    const auto& d = *m_definition;
    if (!d.HasRunControl())
        return true;
    if (d.stateQuery.empty()) {
        m_captureState.stoppedForData = StopInstrument();
        return true;
    }
    bool running = false;
    if (QueryRunning(running) && running) {
        StopAndWait();
        m_captureState.stoppedForData = true;
    }
    return true;
}

bool CInstrDefined::EndDataCapture() {
    if (m_waveformMethod == nullptr)
        return true;
    if (m_waveformMethod->end != nullptr)
        return m_waveformMethod->end(Access(), m_captureState);
    if (!m_captureState.stoppedForData)
        return true;
    m_captureState.stoppedForData = false;
    return RunInstrument(true, false);
}

bool CInstrDefined::GetWaveformData(const std::string& channel, WaveformRecord& out) {
    m_waveformFailure.clear();
    if (m_waveformMethod == nullptr) {
        m_waveformFailure = "the instrument offers no waveform data";
        return false;
    }
    std::string why;
    if (m_waveformMethod->read(Access(), m_captureState, channel, out, why))
        return true;
    m_waveformFailure = why;
    return false;
}
