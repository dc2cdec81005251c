#include "cli/connection_options.h"

#include <charconv>
#include <cstdio>

bool ParseNumber(const char* text, ViUInt32 min, ViUInt32 max, ViUInt32& value) {
    const std::string_view s(text);
    ViUInt32 parsed = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
    if (ec != std::errc() || end != s.data() + s.size() || parsed < min || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool IsConnectionOption(std::string_view option) {
    return option == "--timeout" || option == "--portmapper-port";
}

bool ParseConnectionOption(std::string_view option, const char* value, ConnectionOptions& options) {
    if (option == "--timeout")
        return ParseNumber(value, 1, 3600000u, options.timeoutMs);
    return ParseNumber(value, 1, 65535u, options.portmapperPort);
}

void ApplyPortmapperPort(ViSession resourceManager, const ConnectionOptions& options) {
    if (options.portmapperPort != 0)
        viSetAttribute(resourceManager, QVI_ATTR_PORTMAPPER_PORT, options.portmapperPort);
}

bool ApplySessionTimeout(ViSession session, const ConnectionOptions& options, const char* command) {
    if (options.timeoutMs == 0 ||
        viSetAttribute(session, VI_ATTR_TMO_VALUE, options.timeoutMs) == VI_SUCCESS)
        return true;
    std::fprintf(stderr, "quarvel-cli %s: cannot set the timeout\n", command);
    return false;
}
