#pragma once

// Opening a session through the VISA library a resource manager names
// (visa_library.h), viOpen's way for the resources that library takes; and
// asking that library what it finds, viFindRsrc's method "library".

#include "visa/transport.h"
#include "visa/visa_library.h"

#include <memory>
#include <string>
#include <vector>

namespace quarvel::visa {

// Opens `name` with the library's resource manager (its timeout set to
// `timeoutMs`, ours), and registers the session under a handle of ours
// stored in *vi. Returns the library's status.
ViStatus OpenThroughLibrary(ViSession rm, const std::shared_ptr<LibraryLink>& link,
                            ViUInt32 timeoutMs, ViConstRsrc name, ViAccessMode mode,
                            ViUInt32 openTimeout, ViPSession vi);

// Appends what the library's own viFindRsrc and viFindNext list for `expr`
// (with the library's resource manager; its find list is closed again). A
// library whose find fails, VI_ERROR_RSRC_NFOUND included, adds nothing;
// either way its answer goes to settings.findNotes.
void FindThroughLibrary(LibraryLink& link, ViConstString expr, const SessionSettings& settings,
                        std::vector<std::string>& found);

} // namespace quarvel::visa
