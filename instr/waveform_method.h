#pragma once

// How a family that is data reads its waveforms. Each method is one
// oscilloscope protocol (the Rigol :WAVeform subsystem, Tektronix CURVe?,
// ...), written once in code and chosen by name in the [waveform] section
// of an instrument definition, which also names the channels offered.

#include "instr/instrument_definition.h"
#include "visa/visa.h"
#include "wavedata/waveform_record.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::instr {

// What a method works with during one data capture.
struct WaveformAccess {
    ViSession session = 0;
    const InstrumentDefinition& definition;
    // The identification's model field ("MSO5074", "DHO4204"): a method may
    // choose between the forms a family's models differ in.
    const std::string& model;
    // Timeout in force for a data transfer (the driver's transfer timeout).
    ViUInt32 transferTimeoutMs = 0;
    // Asked between pages (and wherever a transfer can stop cleanly): when
    // it turns true the channel's read stops and gives no record. May be
    // empty.
    const std::function<bool()>& cancelled;

    bool Cancelled() const { return cancelled && cancelled(); }
};

// What a capture must undo at its end, kept from begin to end.
struct WaveformCaptureState {
    bool stoppedForData = false; // the method stopped a running instrument
    std::string restore;         // a command that puts a changed setting back ("" none)
};

struct WaveformMethod {
    std::string_view name;
    // Before the first channel. Null: the definition's [run] section stops a
    // running instrument (the memory is read stopped) and end runs it again.
    bool (*begin)(const WaveformAccess& access, WaveformCaptureState& state) = nullptr;
    // After the last channel, on every path. Null: see begin.
    bool (*end)(const WaveformAccess& access, WaveformCaptureState& state) = nullptr;
    // The channels of the definition this model has (an 8-channel model of a
    // family whose definition lists CH1-CH8, a 4-channel one only CH1-CH4).
    // Null: every channel the definition lists.
    std::vector<std::string> (*offered)(const WaveformAccess& access,
                                        const std::vector<std::string>& channels) = nullptr;
    // The channels among `offered` that the screen shows. Null: every
    // ":<name>:DISPlay?" that answers non-zero.
    std::vector<std::string> (*active)(const WaveformAccess& access,
                                       const std::vector<std::string>& offered) = nullptr;
    // Reads one channel into `out`. False with the reason in `why`, a
    // sentence part naming what went wrong ("the preamble holds 9 fields, not
    // 10"); the caller names the channel.
    bool (*read)(const WaveformAccess& access, WaveformCaptureState& state,
                 const std::string& channel, WaveformRecord& out, std::string& why) = nullptr;
};

// The method of that name, or null.
const WaveformMethod* FindWaveformMethod(std::string_view name);
// Every method's name, for the definition reader's message.
std::vector<std::string_view> WaveformMethodNames();

} // namespace quarvel::instr
