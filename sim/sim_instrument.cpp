#include "sim/sim_instrument.h"

#include "codec/ieee488_block.h"
#include "sim/program_message.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <utility>

namespace quarvel::sim {

std::string BlockHeader(std::size_t dataLength, int digits) {
    const std::string minimal = visa::FormatBlockHeader(dataLength);
    const int needed = static_cast<int>(minimal.size()) - 2;
    if (digits <= needed || digits > 9)
        return minimal;
    std::string header = "#" + std::to_string(digits);
    header += std::string(static_cast<std::size_t>(digits - needed), '0');
    header += minimal.substr(2);
    return header;
}

SimInstrument::SimInstrument(std::string idn) : m_idn(std::move(idn)) {
    AddCommonCommands();
}

void SimInstrument::AddCommonCommands() {
    m_commands.Add("*IDN?", [this](const CommandCall&, CommandResult& r) { r.Text(m_idn); });
    m_commands.Add("*OPC?", [](const CommandCall&, CommandResult& r) { r.Text("1"); });
    // Every command completes before the next one is parsed, so *OPC and *WAI
    // have nothing to wait for.
    m_commands.Add("*OPC", [](const CommandCall&, CommandResult&) {});
    m_commands.Add("*WAI", [](const CommandCall&, CommandResult&) {});
    m_commands.Add("*CLS", [this](const CommandCall&, CommandResult&) {
        m_errors.clear();
        m_commandErrorSinceEsr = false;
    });
    m_commands.Add("*RST", [this](const CommandCall&, CommandResult&) { ResetFamilyState(); });
    m_commands.Add("*ESR?", [this](const CommandCall&, CommandResult& r) {
        // Bit 5: command error since the last *ESR?.
        r.Text(m_commandErrorSinceEsr ? "32" : "0");
        m_commandErrorSinceEsr = false;
    });
    m_commands.Add("*STB?", [this](const CommandCall&, CommandResult& r) {
        // Its own reply is not yet in the output queue: no MAV.
        r.Text(std::to_string(StatusByteUnlocked(false)));
    });
    m_commands.Add(":SYSTem:ERRor[:NEXT]?", [this](const CommandCall&, CommandResult& r) {
        if (m_errors.empty()) {
            r.Text("+0,\"No error\"");
            return;
        }
        const Error e = m_errors.front();
        m_errors.pop_front();
        r.Text(std::to_string(e.code) + ",\"" + e.text + "\"");
    });
}

void SimInstrument::SetImageDumpDirectory(std::string dir) {
    std::lock_guard lock(m_mutex);
    m_dumpDirectory = std::move(dir);
}

void SimInstrument::SetFaultFilter(std::string_view pattern) {
    std::lock_guard lock(m_mutex);
    m_faultFilter = CommandTable();
    m_filterFaults = !pattern.empty();
    if (m_filterFaults)
        m_faultFilter.Add(pattern, [](const CommandCall&, CommandResult&) {});
}

void SimInstrument::QueueError(int code, std::string_view text) {
    std::lock_guard lock(m_mutex);
    QueueErrorUnlocked(code, text);
}

std::size_t SimInstrument::PendingErrors() {
    std::lock_guard lock(m_mutex);
    return m_errors.size();
}

std::uint8_t SimInstrument::StatusByte(bool messageAvailable) {
    std::lock_guard lock(m_mutex);
    return StatusByteUnlocked(messageAvailable);
}

std::uint8_t SimInstrument::StatusByteUnlocked(bool messageAvailable) const {
    constexpr std::uint8_t kErrorQueue = 0x04;
    constexpr std::uint8_t kMessageAvailable = 0x10;
    return static_cast<std::uint8_t>((m_errors.empty() ? 0 : kErrorQueue) |
                                     (messageAvailable ? kMessageAvailable : 0));
}

void SimInstrument::QueueErrorUnlocked(int code, std::string_view text) {
    if (code < 0 && code > -200)
        m_commandErrorSinceEsr = true;
    if (m_errors.size() >= kMaxErrors) {
        m_errors.back() = {-350, "Queue overflow"};
        return;
    }
    m_errors.push_back({code, std::string(text)});
}

void SimInstrument::DumpImage(const Reply& reply) {
    if (m_dumpDirectory.empty() || reply.imageExtension.empty())
        return;
    char name[32];
    std::snprintf(name, sizeof name, "image-%04d.", ++m_dumpCount);
    std::ofstream out(m_dumpDirectory + "/" + name + reply.imageExtension,
                      std::ios::binary | std::ios::trunc);
    out.write(reply.data.data(), static_cast<std::streamsize>(reply.data.size()));
}

void SimInstrument::AppendReply(ResponseMessage& response, const Reply& reply) {
    if (!response.bytes.empty())
        response.bytes += ';';
    switch (reply.kind) {
    case Reply::Kind::Text:
    case Reply::Kind::Raw:
        response.bytes += reply.data;
        response.bytes += reply.trailer;
        break;
    case Reply::Kind::Block: {
        const std::string header = BlockHeader(reply.data.size(), reply.blockDigits);
        // Room for the whole reply and the line feed that may end the
        // message, so a large block is copied once, not again on growth.
        response.bytes.reserve(response.bytes.size() + header.size() + reply.data.size() +
                               reply.trailer.size() + 1);
        if (!response.hasBlock) {
            response.hasBlock = true;
            response.blockHeaderOffset = response.bytes.size();
            response.blockDataOffset = response.bytes.size() + header.size();
            response.blockDataLength = reply.data.size();
        }
        response.bytes += header;
        response.bytes += reply.data;
        response.bytes += reply.trailer;
        break;
    }
    }
}

ResponseMessage SimInstrument::Execute(std::string_view programMessage) {
    std::lock_guard lock(m_mutex);
    ResponseMessage response;
    bool terminate = false;
    bool exact = false;
    std::string previousPath;
    std::vector<int> suffixes;
    for (const ProgramUnit& unit : SplitProgramMessage(programMessage)) {
        const CommandHandler* handler = nullptr;
        std::string matchedHeader = unit.header;
        HeaderForms forms;
        // After ';' a header without a leading ':' continues the previous
        // command's path ("HCOP:DEV:LANG PNG;COL ON"); fall back to the root.
        if (!previousPath.empty() && unit.header.front() != ':' && unit.header.front() != '*') {
            const std::string relative = previousPath + ":" + unit.header;
            handler = m_commands.Find(relative, suffixes, &forms);
            if (handler != nullptr)
                matchedHeader = relative;
        }
        if (handler == nullptr)
            handler = m_commands.Find(unit.header, suffixes, &forms);
        if (handler == nullptr) {
            QueueErrorUnlocked(-113, "Undefined header");
            continue;
        }
        const std::size_t lastColon = matchedHeader.rfind(':');
        previousPath = matchedHeader.front() == '*' || lastColon == std::string::npos
                           ? std::string()
                           : matchedHeader.substr(0, lastColon);

        CommandCall call{unit.header, unit.argumentText, SplitParameters(unit.argumentText),
                         suffixes};
        CommandResult result;
        (*handler)(call, result);
        if (result.errorCode != 0)
            QueueErrorUnlocked(result.errorCode, result.errorText);
        if (!result.hasReply)
            continue;
        if (result.reply.kind == Reply::Kind::Text) {
            const std::string echo = ReplyHeader(forms);
            if (!echo.empty())
                result.reply.data = echo + " " + result.reply.data;
        }
        if (!m_filterFaults || m_faultFilter.Find(unit.header, suffixes) != nullptr)
            response.faultTarget = true;
        DumpImage(result.reply);
        response.delayMs = std::max(response.delayMs, result.reply.delayMs);
        AppendReply(response, result.reply);
        terminate = result.reply.kind == Reply::Kind::Text ||
                    (result.reply.kind == Reply::Kind::Block && result.reply.trailingLf);
        exact = result.reply.exact;
    }
    if (terminate)
        response.bytes += '\n';
    else
        response.unterminated = !response.bytes.empty() && !exact;
    return response;
}

} // namespace quarvel::sim
