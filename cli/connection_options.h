#pragma once

// The options every quarvel-cli command that connects accepts: --timeout MS and
// --portmapper-port N. Each command keeps its own wording for refusals.

#include "visa/visa.h"

#include <string_view>

struct ConnectionOptions {
    ViUInt32 timeoutMs = 0;      // 0: the session's default
    ViUInt32 portmapperPort = 0; // 0: the default port
};

// True when `text` is a whole decimal number in [min, max], then stored in
// `value`; otherwise `value` is left as it was.
bool ParseNumber(const char* text, ViUInt32 min, ViUInt32 max, ViUInt32& value);

// True for "--timeout" and "--portmapper-port".
bool IsConnectionOption(std::string_view option);

// Stores the value of a connection option (one IsConnectionOption accepts):
// milliseconds 1 to 3600000 for
// --timeout, a TCP port 1 to 65535 for --portmapper-port. False when the value
// is out of that range or not a number.
bool ParseConnectionOption(std::string_view option, const char* value, ConnectionOptions& options);

// Gives the resource manager the portmapper port, when one was given; the
// sessions it opens afterwards use it.
void ApplyPortmapperPort(ViSession resourceManager, const ConnectionOptions& options);

// Sets the timeout of an open session, when one was given. When the session
// refuses it, prints "quarvel-cli <command>: cannot set the timeout" and
// returns false.
bool ApplySessionTimeout(ViSession session, const ConnectionOptions& options, const char* command);
