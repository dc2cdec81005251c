#include "cli/connection_options.h"

#include "visa/visa_internal.h"

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
    return option == "--timeout" || option == "--portmapper-port" || option == "--usbip" ||
           option == "--visa-library" || option == "--visa-library-all";
}

namespace {

// HOST:PORT, [IPv6]:PORT; the port 1 to 65535.
bool IsServerAddress(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || text.find(',') != std::string_view::npos)
        return false;
    const std::string_view host = text.substr(0, colon);
    if (host.front() == '[' ? host.back() != ']' : host.find(':') != std::string_view::npos)
        return false;
    ViUInt32 port = 0;
    return ParseNumber(std::string(text.substr(colon + 1)).c_str(), 1, 65535u, port);
}

} // namespace

bool ParseConnectionOption(std::string_view option, const char* value, ConnectionOptions& options) {
    if (option == "--timeout")
        return ParseNumber(value, 1, 3600000u, options.timeoutMs);
    if (option == "--visa-library" || option == "--visa-library-all") {
        if (*value == '\0')
            return false;
        options.visaLibraryGiven = true;
        options.visaLibrary = {value, option == "--visa-library-all"};
        return true;
    }
    if (option == "--usbip") {
        if (!IsServerAddress(value))
            return false;
        if (!options.usbipServers.empty())
            options.usbipServers += ',';
        options.usbipServers += value;
        return true;
    }
    return ParseNumber(value, 1, 65535u, options.portmapperPort);
}

const char* ConnectionOptionValueText(std::string_view option) {
    if (option == "--timeout")
        return "milliseconds, 1 to 3600000";
    if (option == "--usbip")
        return "HOST:PORT of a USB/IP server";
    if (option == "--visa-library" || option == "--visa-library-all")
        return "the path of a VISA library";
    return "a TCP port, 1 to 65535";
}

bool ApplyResourceManagerOptions(ViSession resourceManager, const ConnectionOptions& options,
                                 const char* command) {
    if (options.portmapperPort != 0)
        viSetAttribute(resourceManager, QVI_ATTR_PORTMAPPER_PORT, options.portmapperPort);
    if (!options.usbipServers.empty())
        viSetAttribute(resourceManager, QVI_ATTR_USBIP_SERVERS,
                       reinterpret_cast<ViAttrState>(options.usbipServers.c_str()));
    const VisaLibraryChoice library =
        options.visaLibraryGiven ? options.visaLibrary : VisaLibraryFromEnvironment();
    if (library.path.empty())
        return true;
    char message[QVI_MESSAGE_BUFLEN] = {};
    const ViStatus s = qviUseVisaLibrary(
        resourceManager, library.path.c_str(),
        library.allResources ? QVI_LIBRARY_FOR_ALL : QVI_LIBRARY_FOR_OTHERS, message);
    if (s == VI_SUCCESS)
        return true;
    std::fprintf(stderr, "quarvel-cli %s: %s\n", command,
                 message[0] != '\0' ? message : qviStatusName(s));
    return false;
}

void PrintOpenFailure(ViSession resourceManager, const std::string& address, ViStatus status,
                      const char* command) {
    char text[QVI_MESSAGE_BUFLEN] = {};
    qviOpenFailureText(resourceManager, address.c_str(), status, text);
    if (text[0] == '\0')
        return;
    std::fprintf(stderr, "quarvel-cli %s: %s\n", command, text);
    if (status == VI_ERROR_LIBRARY_NFOUND)
        std::fprintf(stderr,
                     "quarvel-cli %s: name one with --visa-library PATH or "
                     "QUARVEL_VISA_LIBRARY=PATH\n",
                     command);
}

bool ApplySessionTimeout(ViSession session, const ConnectionOptions& options, const char* command) {
    if (options.timeoutMs == 0 ||
        viSetAttribute(session, VI_ATTR_TMO_VALUE, options.timeoutMs) == VI_SUCCESS)
        return true;
    std::fprintf(stderr, "quarvel-cli %s: cannot set the timeout\n", command);
    return false;
}
