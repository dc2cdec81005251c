#pragma once

// quarvel-sim --replay LOG: the instrument an I/O log recorded. It answers
// each program message with the reply recorded for it, in the recorded
// order, after the recorded delay divided by the replay speed. The first
// message that is not the next recorded one ends the replay: the transcript
// gets a line saying where the conversation departed from the recording,
// and that and every later query are answered with that line, so the
// client's error names the place. The fault options apply to every replayed
// reply (--fault-on does not narrow them here).

#include "sim/replay_script.h"
#include "sim/sim_instrument.h"
#include "sim/transcript.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace quarvel::sim {

class ReplayInstrument : public SimInstrument {
public:
    // speed 0: no waits.
    ReplayInstrument(ReplayScript script, double speed, Transcript* transcript);

    ResponseMessage Execute(std::string_view programMessage) override;

    // The *IDN? reply of the recording (for the USB identity), or a stand-in.
    static std::string RecordedIdn(const ReplayScript& script);

private:
    ResponseMessage Departed(std::string_view programMessage);

    ReplayScript m_script;
    double m_speed;
    Transcript* m_transcript;
    std::size_t m_next = 0;
    std::string m_departure; // empty while the conversation follows the log
    std::mutex m_replayMutex;
};

} // namespace quarvel::sim
