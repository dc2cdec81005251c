#pragma once

// Opening a session through the VISA library a resource manager names
// (visa_library.h); viOpen's way for the resources that library takes.

#include "visa/visa_library.h"

#include <memory>

namespace quarvel::visa {

// Opens `name` with the library's resource manager (its timeout set to
// `timeoutMs`, ours), and registers the session under a handle of ours
// stored in *vi. Returns the library's status.
ViStatus OpenThroughLibrary(ViSession rm, const std::shared_ptr<LibraryLink>& link,
                            ViUInt32 timeoutMs, ViConstRsrc name, ViAccessMode mode,
                            ViUInt32 openTimeout, ViPSession vi);

} // namespace quarvel::visa
