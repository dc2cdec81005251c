#include "sim/replay_script.h"

#include "codec/io_log_format.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace quarvel::sim {

namespace iolog = visa::iolog;

namespace {

// The bytes of a payload: the text itself, or the side file's copy, checked
// against the length and hash the line gives.
bool PayloadBytes(const iolog::Payload& payload, const std::string& dataFile,
                  const SideFileReader& sideFile, std::string& out, std::string& error) {
    if (payload.kind == iolog::Payload::Kind::Text) {
        out = payload.text;
        return true;
    }
    if (payload.size == 0) {
        out.clear();
        return true;
    }
    if (!payload.at || dataFile.empty()) {
        error = "a binary payload of " + std::to_string(payload.size) +
                " bytes was not kept (record with QUARVEL_IO_LOG_DATA=1 or --io-log-data)";
        return false;
    }
    if (!sideFile(dataFile, *payload.at, payload.size, out, error))
        return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(out.data());
    if (iolog::Fnv1a64(bytes, out.size()) != payload.fnv) {
        error = dataFile + " at " + std::to_string(*payload.at) +
                ": the data differs from what the log recorded (hash)";
        return false;
    }
    return true;
}

class Builder {
public:
    explicit Builder(ReplayScript& script) : m_script(script) {}

    bool Write(const iolog::Record& record, const std::string& bytes, std::size_t line,
               std::string& error) {
        // A write that failed may not have reached the instrument; it is
        // replayed as sent, since the device may have seen part of it.
        m_readAfterCommand = false;
        m_commandEndMs = record.tMs + record.durMs;
        for (const char c : bytes) {
            if (c == '\n') {
                if (!Complete(line, error))
                    return false;
            } else if (m_input.size() < kMaxCommand) {
                m_input += c;
            } else {
                error = "a program message longer than " + std::to_string(kMaxCommand) + " bytes";
                return false;
            }
        }
        if (record.end == iolog::End::Yes)
            return Complete(line, error);
        return true;
    }

    bool Read(const iolog::Record& record, const std::string& bytes, std::string& error) {
        if (bytes.empty())
            return true;
        if (m_script.exchanges.empty()) {
            error = "the instrument sent bytes before any command";
            return false;
        }
        m_replyBytes += bytes.size();
        if (m_replyBytes > kMaxReplayBytes) {
            error = "the replies exceed " + std::to_string(kMaxReplayBytes) + " bytes";
            return false;
        }
        Exchange& exchange = m_script.exchanges.back();
        if (!m_readAfterCommand) {
            // The first bytes after the command: the wait up to the end of
            // the read that brought them.
            m_readAfterCommand = true;
            double delay = record.tMs + record.durMs - m_commandEndMs;
            exchange.delayMs =
                delay < 0 ? 0 : (delay > kMaxReplayDelayMs ? kMaxReplayDelayMs : delay);
        }
        exchange.reply += bytes;
        return true;
    }

private:
    static constexpr std::size_t kMaxCommand = 1u << 20;

    // As the simulated instrument cuts them: at LF or END, CR LF stripped,
    // empty messages ignored.
    bool Complete(std::size_t line, std::string& error) {
        while (!m_input.empty() && (m_input.back() == '\r' || m_input.back() == '\n'))
            m_input.pop_back();
        if (m_input.empty())
            return true;
        if (m_script.exchanges.size() == kMaxExchanges) {
            error = "more than " + std::to_string(kMaxExchanges) + " program messages";
            return false;
        }
        m_script.exchanges.push_back({std::move(m_input), {}, 0, line});
        m_input.clear();
        return true;
    }

    ReplayScript& m_script;
    std::string m_input;
    bool m_readAfterCommand = false;
    double m_commandEndMs = 0;
    std::uint64_t m_replyBytes = 0;
};

} // namespace

bool BuildReplayScript(std::string_view logText, const SideFileReader& sideFile,
                       ReplayScript& script, std::string& error) {
    script = ReplayScript{};
    if (logText.size() > kMaxLogBytes) {
        error = "the log is larger than " + std::to_string(kMaxLogBytes) + " bytes";
        return false;
    }
    Builder builder(script);
    iolog::Header header;
    iolog::Record record;
    bool headerSeen = false;
    std::size_t lineNumber = 0;
    while (!logText.empty()) {
        ++lineNumber;
        const std::size_t lf = logText.find('\n');
        const std::string_view line = logText.substr(0, lf);
        logText.remove_prefix(lf == std::string_view::npos ? logText.size() : lf + 1);
        std::string lineError;
        const auto kind = iolog::ParseLine(line, header, record, lineError);
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        if (!kind)
            return fail(lineError);
        if (*kind == iolog::LineKind::Header)
            headerSeen = true;
        if (*kind != iolog::LineKind::Record)
            continue;
        if (!headerSeen)
            return fail("an operation before the log's header line");
        if (script.usbResource.empty() && record.resource.rfind("USB", 0) == 0)
            script.usbResource = record.resource;
        if (record.op != iolog::Op::Write && record.op != iolog::Op::Read)
            continue;
        std::string bytes;
        if (!PayloadBytes(record.payload, header.dataFile, sideFile, bytes, lineError))
            return fail(lineError);
        const bool ok = record.op == iolog::Op::Write
                            ? builder.Write(record, bytes, lineNumber, lineError)
                            : builder.Read(record, bytes, lineError);
        if (!ok)
            return fail(lineError);
    }
    if (!headerSeen) {
        error = "not a Quarvel I/O log (no \"" + std::string(iolog::kHeaderMagic) + "\" line)";
        return false;
    }
    return true;
}

bool LoadReplayScript(const std::string& path, ReplayScript& script, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    struct stat st {};
    if (!file || ::stat(path.c_str(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxLogBytes) {
        error = path + ": larger than " + std::to_string(kMaxLogBytes) + " bytes";
        return false;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const SideFileReader reader = [&dir](const std::string& name, std::uint64_t offset,
                                         std::uint64_t size, std::string& out,
                                         std::string& readError) {
        const std::string sidePath = dir + name;
        std::ifstream side(sidePath, std::ios::binary);
        struct stat sideStat {};
        if (!side || ::stat(sidePath.c_str(), &sideStat) != 0) {
            readError = sidePath + ": " + std::strerror(errno);
            return false;
        }
        if (offset > static_cast<std::uint64_t>(sideStat.st_size) ||
            size > static_cast<std::uint64_t>(sideStat.st_size) - offset) {
            readError = sidePath + ": shorter than the log says (" + std::to_string(offset) + "+" +
                        std::to_string(size) + " bytes)";
            return false;
        }
        out.assign(static_cast<std::size_t>(size), '\0');
        side.seekg(static_cast<std::streamoff>(offset));
        side.read(out.data(), static_cast<std::streamsize>(size));
        if (static_cast<std::uint64_t>(side.gcount()) != size) {
            readError = sidePath + ": cannot be read";
            return false;
        }
        return true;
    };
    if (!BuildReplayScript(text, reader, script, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace quarvel::sim
