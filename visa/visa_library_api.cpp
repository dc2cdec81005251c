// Quarvel's entry points for a VISA library loaded at run time: naming it for
// a resource manager, opening sessions through it, and explaining a failed
// open to the user.

#include "visa/visa.h"
#include "visa/visa_internal.h"

#include "visa/library_open.h"
#include "visa/session_table.h"
#include "visa/transport_table.h"

#include <algorithm>
#include <cstring>

using quarvel::visa::LibraryLink;
using quarvel::visa::StatusText;
using quarvel::visa::Table;

namespace {

void CopyMessage(const std::string& text, ViChar* out) {
    if (out == nullptr)
        return;
    const std::size_t n = std::min<std::size_t>(text.size(), QVI_MESSAGE_BUFLEN - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

} // namespace

namespace quarvel::visa {

ViStatus OpenThroughLibrary(ViSession rm, const std::shared_ptr<LibraryLink>& link,
                            ViUInt32 timeoutMs, ViConstRsrc name, ViAccessMode mode,
                            ViUInt32 openTimeout, ViPSession vi) {
    const VisaLibrary& library = link->Library();
    const Backend& calls = library.SessionCalls();
    ViSession libraryRm = VI_NULL;
    if (const ViStatus s = link->ResourceManager(libraryRm); s < VI_SUCCESS)
        return s;
    // Our resource manager's timeout bounds finding the device, as it does
    // for our own transports; a library that refuses it keeps its own.
    calls.setAttribute(libraryRm, VI_ATTR_TMO_VALUE, timeoutMs);
    ViSession handle = VI_NULL;
    const ViStatus opened = library.open(libraryRm, name, mode, openTimeout, &handle);
    if (opened < VI_SUCCESS)
        return opened;
    auto session = std::make_shared<ForwardedSession>(link, handle, rm);
    calls.setAttribute(handle, VI_ATTR_TMO_VALUE, timeoutMs);
    const ViSession id = Table().AddForwarded(rm, std::move(session));
    if (id == 0)
        return VI_ERROR_INV_OBJECT; // the resource manager was closed meanwhile
    *vi = id;
    return opened;
}

} // namespace quarvel::visa

ViStatus qviUseVisaLibrary(ViSession rm, ViConstString path, ViUInt16 resources, ViChar message[]) {
    CopyMessage("", message);
    if (!Table().FindManager(rm))
        return VI_ERROR_INV_OBJECT;
    if (resources != QVI_LIBRARY_FOR_OTHERS && resources != QVI_LIBRARY_FOR_ALL)
        return VI_ERROR_INV_PARAMETER;
    if (path == nullptr || *path == '\0')
        return Table().SetLibrary(rm, nullptr) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
    std::string error;
    auto library = quarvel::visa::VisaLibrary::Load(path, error);
    if (!library) {
        CopyMessage(error, message);
        return VI_ERROR_LIBRARY_NFOUND;
    }
    auto link = std::make_shared<LibraryLink>(std::move(library), resources == QVI_LIBRARY_FOR_ALL);
    return Table().SetLibrary(rm, std::move(link)) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus qviOpenFailureText(ViSession rm, ViConstRsrc name, ViStatus status, ViChar message[]) {
    CopyMessage("", message);
    if (!Table().FindManager(rm))
        return VI_ERROR_INV_OBJECT;
    if (name == nullptr)
        return VI_SUCCESS;
    quarvel::visa::ResourceName parsed;
    const ViStatus parseStatus = quarvel::visa::ParseResourceName(name, parsed, nullptr);
    const std::shared_ptr<LibraryLink> link = Table().LibraryOf(rm);
    if (link && link->Takes(parseStatus)) {
        CopyMessage("the VISA library " + link->Library().Path() + " answered " +
                        StatusText(status) + " for " + name,
                    message);
        return VI_SUCCESS;
    }
    // A USB instrument on this machine whose device node this user may not
    // open: the fix is the udev rules Quarvel ships.
    if (status == QVI_ERROR_NO_PERMISSION) {
        CopyMessage(std::string("no permission for the USB device ") + name +
                        ": install Quarvel's udev rules (60-quarvel-usbtmc.rules) and plug the "
                        "instrument in again",
                    message);
        return VI_SUCCESS;
    }
    if (quarvel::visa::IsForeignInterface(name))
        CopyMessage("no VISA library for " + quarvel::visa::StandardInterfaceKeyword(name) +
                        " resources: Quarvel does not open them itself, a VISA library that "
                        "does must be named",
                    message);
    return VI_SUCCESS;
}
