#pragma once

#include "instr/instr_ll.h"
#include "instr/instrument_definition.h"
#include "instr/waveform_method.h"

#include <memory>
#include <string>

// The driver of every family that is data: it carries out an instrument
// definition (built in or from a user's file) with the base class's screen
// image transfer and commands.
class CInstrDefined : public CInstrLL {
public:
    explicit CInstrDefined(std::shared_ptr<const quarvel::instr::InstrumentDefinition> definition);

    // With a run-state query: whether its word was one of the running words
    // (a word the definition does not name counts as not running, so nothing
    // is restarted that may not have run). Without one: true once the stop
    // was sent, as nothing tells otherwise.
    bool StopInstrument() override;
    bool RunInstrument(bool run, bool single) override;
    // With an instrument file: the file's delete command is sent after every
    // attempt that may have written it, whether the read succeeded, failed or
    // was cancelled.
    bool GetScreenshot(ByteBuffer& out) override;

    // Waveform data, when the definition names a waveform method: the
    // definition's channels, read by the method (instr/waveform_method.h).
    void GetChannelList(ChannelList& out) override;
    void GetActiveChannels(ChannelList& out) override;
    bool BeginDataCapture() override;
    bool EndDataCapture() override;
    bool GetWaveformData(const std::string& channel, WaveformRecord& out) override;

    const quarvel::instr::InstrumentDefinition& Definition() const { return *m_definition; }
    // The instrument file of the last capture ("" when the family has none).
    const std::string& LastInstrumentFile() const { return m_lastFile; }

private:
    // Carries out the steps in order; false at the first command that fails.
    // "{file}" in a command becomes `file`.
    bool RunSteps(const std::vector<quarvel::instr::DefinitionStep>& steps,
                  const std::string& file) const;

    // Sends the instrument file's delete command, also after a cancel.
    void DeleteInstrumentFile(const std::string& command) const;

    // Asks the definition's state query; false when it fails.
    bool QueryRunning(bool& running) const;
    // The stop steps, then "*OPC?", both best effort.
    void StopAndWait() const;
    quarvel::instr::WaveformAccess Access() const;

    std::shared_ptr<const quarvel::instr::InstrumentDefinition> m_definition;
    const quarvel::instr::WaveformMethod* m_waveformMethod = nullptr;
    quarvel::instr::WaveformCaptureState m_captureState;
    std::string m_lastFile;
    unsigned m_captures = 0;
};
