#include "sim/replay_instrument.h"

#include <cstdio>

namespace quarvel::sim {

namespace {

// The message as the departure line quotes it: control bytes escaped, cut
// to a readable length.
std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 80;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7f || c == '"') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > kShown)
        out += "...";
    return out + "\"";
}

bool IsQuery(std::string_view message) {
    return message.find('?') != std::string_view::npos;
}

} // namespace

ReplayInstrument::ReplayInstrument(ReplayScript script, double speed, Transcript* transcript)
    : SimInstrument(RecordedIdn(script)), m_script(std::move(script)), m_speed(speed),
      m_transcript(transcript) {}

std::string ReplayInstrument::RecordedIdn(const ReplayScript& script) {
    for (const Exchange& exchange : script.exchanges)
        if (exchange.command == "*IDN?" && !exchange.reply.empty()) {
            std::string idn = exchange.reply;
            while (!idn.empty() && (idn.back() == '\n' || idn.back() == '\r' || idn.back() == '\0'))
                idn.pop_back();
            return idn;
        }
    return "Quarvel,Replay,0,0";
}

ResponseMessage ReplayInstrument::Execute(std::string_view programMessage) {
    std::lock_guard lock(m_replayMutex);
    if (!m_departure.empty() || m_next >= m_script.exchanges.size() ||
        m_script.exchanges[m_next].command != programMessage)
        return Departed(programMessage);
    const Exchange& exchange = m_script.exchanges[m_next++];
    ResponseMessage response;
    response.bytes = exchange.reply;
    // The fault options apply to a replayed instrument's replies too.
    response.faultTarget = true;
    if (m_speed > 0)
        response.delayMs = static_cast<int>(exchange.delayMs / m_speed);
    return response;
}

ResponseMessage ReplayInstrument::Departed(std::string_view programMessage) {
    if (m_departure.empty()) {
        const std::string number = std::to_string(m_next + 1);
        if (m_next >= m_script.exchanges.size())
            m_departure = "replay departed from the log after its last message (" +
                          std::to_string(m_script.exchanges.size()) + "): got " +
                          Quoted(programMessage);
        else
            m_departure = "replay departed from the log at message " + number + " (log line " +
                          std::to_string(m_script.exchanges[m_next].line) + "): expected " +
                          Quoted(m_script.exchanges[m_next].command) + ", got " +
                          Quoted(programMessage);
        if (m_transcript != nullptr)
            m_transcript->Record(m_departure);
        std::fprintf(stderr, "quarvel-sim: %s\n", m_departure.c_str());
    }
    ResponseMessage response;
    if (IsQuery(programMessage))
        response.bytes = "!" + m_departure + "\n";
    return response;
}

} // namespace quarvel::sim
