#pragma once

// Which VISA library, if any, Quarvel passes resources to besides its own
// transports: the window's settings, quarvel-cli's --visa-library and
// --visa-library-all, or the environment.

#include <string>

struct VisaLibraryChoice {
    std::string path;          // empty: no other library
    bool allResources = false; // every resource, not only those Quarvel cannot open
};

// QUARVEL_VISA_LIBRARY=PATH names the library; QUARVEL_VISA_LIBRARY_ALL=1
// sends every resource to it. An empty path when the first is unset.
VisaLibraryChoice VisaLibraryFromEnvironment();
