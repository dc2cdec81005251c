// viFindRsrc's method "library": the resources a loaded VISA library finds
// itself (a vendor's GPIB boards, serial ports, ...), asked with the same
// search expression as ours.

#include "visa/discovery.h"
#include "visa/library_open.h"

namespace quarvel::visa {

void FindThroughLibrary(LibraryLink& link, ViConstString expr, const SessionSettings& settings,
                        std::vector<std::string>& found) {
    const VisaLibrary& library = link.Library();
    const auto note = [&](const std::string& line) {
        if (settings.findNotes != nullptr)
            settings.findNotes->Add("library: " + library.Path() + " " + line);
    };
    ViSession rm = VI_NULL;
    if (const ViStatus s = link.ResourceManager(rm); s < VI_SUCCESS) {
        note("opened no resource manager: " + StatusText(s));
        return;
    }
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    // VI_FIND_BUFLEN, and a NUL of ours should the library fill all of it.
    ViChar name[257] = {};
    const ViStatus s = library.findRsrc(rm, expr, &list, &count, name);
    if (s < VI_SUCCESS) {
        note("answered " + StatusText(s));
        return;
    }
    std::size_t listed = 0;
    for (ViUInt32 i = 0; i < count; ++i) {
        if (i > 0 && library.findNext(list, name) < VI_SUCCESS)
            break;
        name[256] = '\0';
        found.emplace_back(name);
        ++listed;
    }
    if (list != VI_NULL)
        library.close(list);
    note("listed " + std::to_string(listed) + (listed == 1 ? " resource" : " resources"));
}

} // namespace quarvel::visa
