#include "instr/failure.h"

#include <cstdio>

namespace quarvel::instr {

namespace {

std::string Seconds(std::uint32_t ms) {
    char text[32];
    if (ms < 1000)
        std::snprintf(text, sizeof text, "%u ms", ms);
    else if (ms % 1000 < 50 || ms % 1000 >= 950)
        std::snprintf(text, sizeof text, "%u s", (ms + 500) / 1000);
    else
        std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

std::string After(const Failure& f) {
    return f.command.empty() ? std::string() : " after '" + f.command + "'";
}

std::string To(const Failure& f) {
    return f.command.empty() ? std::string(" to the last command") : " to '" + f.command + "'";
}

} // namespace

FailureKind KindOfStatus(ViStatus status) {
    switch (status) {
    case VI_SUCCESS:
        return FailureKind::None;
    case VI_ERROR_TMO:
        return FailureKind::Timeout;
    case VI_ERROR_CONN_LOST:
        return FailureKind::LinkLost;
    case VI_ERROR_RSRC_NFOUND:
        return FailureKind::ConnectionRefused;
    case VI_ERROR_INV_FMT:
        return FailureKind::NotUnderstood;
    default:
        return status < VI_SUCCESS ? FailureKind::Io : FailureKind::None;
    }
}

std::string ShowBytes(const void* data, std::size_t size, std::size_t limit) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    for (std::size_t i = 0; i < size && i < limit; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7f && bytes[i] != '\\') {
            out += static_cast<char>(bytes[i]);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", bytes[i]);
            out += hex;
        }
    }
    if (size > limit)
        out += "...";
    return out;
}

std::string DescribeFailure(const Failure& f) {
    std::string reason;
    std::string word;
    switch (f.kind) {
    case FailureKind::None:
        return {};
    case FailureKind::Timeout:
        word = "timeout";
        if (f.bytesRead > 0)
            reason = "the reply" + To(f) + " stopped after " + std::to_string(f.bytesRead) +
                     " bytes; nothing more came for " + Seconds(f.waitedMs);
        else
            reason = "the instrument sent nothing for " + Seconds(f.waitedMs) + After(f);
        break;
    case FailureKind::ConnectionRefused:
        word = "connection refused";
        reason = "nothing answers at that address (no instrument listens there, or the host or "
                 "port is wrong)";
        break;
    case FailureKind::LinkLost:
        word = "link lost";
        reason = f.bytesRead > 0 ? "the connection ended after " + std::to_string(f.bytesRead) +
                                       " bytes of the reply" + To(f)
                                 : "the connection ended" + After(f);
        break;
    case FailureKind::NotAnImage:
        word = "not an image";
        reason = "the reply" + To(f) + " is no image" +
                 (f.detail.empty() ? std::string() : " (it starts with \"" + f.detail + "\")");
        break;
    case FailureKind::CommandRefused:
        word = "command refused";
        reason = "the instrument refused '" + f.command + "': " + f.detail;
        break;
    case FailureKind::NotUnderstood:
        word = "unreadable reply";
        reason = "the reply" + To(f) + " is not what was asked for" +
                 (f.detail.empty() ? std::string() : " (\"" + f.detail + "\")");
        break;
    case FailureKind::Io:
        word = qviStatusName(f.status);
        reason = "the link failed" + After(f);
        break;
    }
    if (!f.step.empty())
        reason += " while " + f.step;
    return reason + " (" + word + ")";
}

} // namespace quarvel::instr

namespace quarvel::instr {

Failure LastSessionFailure(ViSession session, std::string step) {
    Failure failure;
    QviLastFailure last{};
    if (qviGetLastFailure(session, &last) != VI_SUCCESS || last.status >= VI_SUCCESS)
        return failure;
    failure.status = last.status;
    failure.kind = KindOfStatus(last.status);
    failure.command = last.command;
    failure.waitedMs = last.waitedMs;
    failure.bytesRead = last.bytesRead;
    failure.step = std::move(step);
    return failure;
}

Failure OpenFailure(ViStatus status) {
    Failure failure;
    failure.status = status;
    failure.kind = KindOfStatus(status);
    return failure;
}

} // namespace quarvel::instr
