#pragma once

// The options every quarvel-cli command that connects accepts: --timeout MS,
// --portmapper-port N and --usbip HOST:PORT (repeatable). Each command keeps
// its own wording for refusals.

#include "visa/visa.h"

#include <string>
#include <string_view>

struct ConnectionOptions {
    ViUInt32 timeoutMs = 0;      // 0: the session's default
    ViUInt32 portmapperPort = 0; // 0: the default port
    std::string usbipServers;    // "host:port,host:port"; empty: none
};

// True when `text` is a whole decimal number in [min, max], then stored in
// `value`; otherwise `value` is left as it was.
bool ParseNumber(const char* text, ViUInt32 min, ViUInt32 max, ViUInt32& value);

// True for "--timeout", "--portmapper-port" and "--usbip".
bool IsConnectionOption(std::string_view option);

// Stores the value of a connection option (one IsConnectionOption accepts):
// milliseconds 1 to 3600000 for --timeout, a TCP port 1 to 65535 for
// --portmapper-port, HOST:PORT for --usbip (added to the servers given
// before). False when the value is out of that range or malformed.
bool ParseConnectionOption(std::string_view option, const char* value, ConnectionOptions& options);

// What a value of the option must be, for refusal messages.
const char* ConnectionOptionValueText(std::string_view option);

// Gives the resource manager the portmapper port and the USB/IP servers,
// when given; the sessions it opens afterwards use them.
void ApplyResourceManagerOptions(ViSession resourceManager, const ConnectionOptions& options);

// Sets the timeout of an open session, when one was given. When the session
// refuses it, prints "quarvel-cli <command>: cannot set the timeout" and
// returns false.
bool ApplySessionTimeout(ViSession session, const ConnectionOptions& options, const char* command);
