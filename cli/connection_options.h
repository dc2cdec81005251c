#pragma once

// The options every quarvel-cli command that connects accepts: --timeout MS,
// --portmapper-port N, --usbip HOST:PORT (repeatable), and --visa-library
// PATH or --visa-library-all PATH. Each command keeps its own wording for
// refusals.

#include "instr/visa_library_choice.h"
#include "visa/visa.h"

#include <string>
#include <string_view>

struct ConnectionOptions {
    ViUInt32 timeoutMs = 0;      // 0: the session's default
    ViUInt32 portmapperPort = 0; // 0: the default port
    std::string usbipServers;    // "host:port,host:port"; empty: none
    // Another VISA library; when no option names one, the environment's
    // (QUARVEL_VISA_LIBRARY, QUARVEL_VISA_LIBRARY_ALL).
    bool visaLibraryGiven = false;
    VisaLibraryChoice visaLibrary;
};

// True when `text` is a whole decimal number in [min, max], then stored in
// `value`; otherwise `value` is left as it was.
bool ParseNumber(const char* text, ViUInt32 min, ViUInt32 max, ViUInt32& value);

// True for "--timeout", "--portmapper-port", "--usbip", "--visa-library"
// and "--visa-library-all".
bool IsConnectionOption(std::string_view option);

// Stores the value of a connection option (one IsConnectionOption accepts):
// milliseconds 1 to 3600000 for --timeout, a TCP port 1 to 65535 for
// --portmapper-port, HOST:PORT for --usbip (added to the servers given
// before), a path for --visa-library (the resources Quarvel does not open
// itself go to that library) and --visa-library-all (every resource does).
// False when the value is out of that range or malformed.
bool ParseConnectionOption(std::string_view option, const char* value, ConnectionOptions& options);

// What a value of the option must be, for refusal messages.
const char* ConnectionOptionValueText(std::string_view option);

// Gives the resource manager the portmapper port, the USB/IP servers and the
// VISA library, when given; the sessions it opens afterwards use them. When
// the library cannot be loaded, prints "quarvel-cli <command>: " and why, and
// returns false.
bool ApplyResourceManagerOptions(ViSession resourceManager, const ConnectionOptions& options,
                                 const char* command);

// After viOpen of `address` failed: prints what the VISA layer adds to the
// status (the library that answered, or that no VISA library is named for a
// GPIB address, with the options that name one); nothing when it adds nothing.
void PrintOpenFailure(ViSession resourceManager, const std::string& address, ViStatus status,
                      const char* command);

// Sets the timeout of an open session, when one was given. When the session
// refuses it, prints "quarvel-cli <command>: cannot set the timeout" and
// returns false.
bool ApplySessionTimeout(ViSession session, const ConnectionOptions& options, const char* command);
