// Finding and parsing resources: viFindRsrc/viFindNext over what the
// transports can list (transport_table.h), filtered by the standard search
// expressions (resource_pattern.h), and what a loaded VISA library lists
// itself (library_open.h); viParseRsrc/viParseRsrcEx.

#include "visa/visa.h"

#include "visa/library_open.h"
#include "visa/resource_pattern.h"
#include "visa/session_table.h"
#include "visa/transport_table.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

using quarvel::visa::CopyOut;
using quarvel::visa::FindList;
using quarvel::visa::ResourceName;
using quarvel::visa::ResourcePattern;
using quarvel::visa::Table;
using quarvel::visa::TransportRow;

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                    ViChar desc[]) {
    if (vi != nullptr)
        *vi = VI_NULL;
    if (retCnt != nullptr)
        *retCnt = 0;
    const auto manager = Table().FindManager(sesn);
    if (!manager)
        return VI_ERROR_INV_OBJECT;
    if (expr == nullptr)
        return VI_ERROR_INV_EXPR;
    ResourcePattern pattern;
    if (const ViStatus s = ResourcePattern::Compile(expr, pattern); s != VI_SUCCESS)
        return s;
    // `manager` keeps the flag alive while the listers look at it.
    if (manager->findCancelled)
        return VI_ERROR_ABORT;
    auto settings = manager->settings;
    quarvel::visa::FindNotes notes;
    settings.findNotes = &notes;
    settings.findCancelled = &manager->findCancelled;
    // The loaded library's own search runs beside ours; what it lists that
    // we did not find comes after our names (our per-host merge applies to
    // ours only: the library's names are its own).
    std::vector<std::string> fromLibrary;
    std::thread libraryFind;
    if ((settings.discoveryMethods & quarvel::visa::kDiscoverLibrary) != 0) {
        if (const auto link = Table().LibraryOf(sesn))
            libraryFind = std::thread([&, link] {
                quarvel::visa::FindThroughLibrary(*link, expr, settings, fromLibrary);
            });
        else
            notes.Add("library: no VISA library is loaded");
    }
    auto list = std::make_shared<FindList>();
    for (std::string& name :
         quarvel::visa::FindResources(settings, quarvel::visa::DeadlineAfter(settings.timeoutMs)))
        if (pattern.Matches(name, quarvel::visa::AttributesOfName(name)))
            list->names.push_back(std::move(name));
    if (libraryFind.joinable())
        libraryFind.join();
    for (std::string& name : fromLibrary)
        if (std::find(list->names.begin(), list->names.end(), name) == list->names.end())
            list->names.push_back(std::move(name));
    const bool cancelled = manager->findCancelled;
    if (cancelled)
        notes.Add("cancelled");
    {
        std::lock_guard lock(manager->reportMutex);
        manager->findReport = notes.Text();
    }
    if (cancelled)
        return VI_ERROR_ABORT;
    if (list->names.empty())
        return VI_ERROR_RSRC_NFOUND;
    if (desc != nullptr)
        CopyOut(list->names.front(), desc);
    if (retCnt != nullptr)
        *retCnt = static_cast<ViUInt32>(list->names.size());
    list->next = 1;
    // Without a place for the list's handle the caller wants the first match only.
    if (vi != nullptr) {
        const ViFindList id = Table().AddFindList(sesn, std::move(list));
        if (id == VI_NULL)
            return VI_ERROR_INV_OBJECT;
        *vi = id;
    }
    return VI_SUCCESS;
}

ViStatus qviCancelFind(ViSession rm) {
    const auto manager = Table().FindManager(rm);
    if (!manager)
        return VI_ERROR_INV_OBJECT;
    manager->findCancelled = true;
    return VI_SUCCESS;
}

ViStatus qviFindReport(ViSession rm, ViChar report[], ViUInt32 size) {
    const auto manager = Table().FindManager(rm);
    if (!manager)
        return VI_ERROR_INV_OBJECT;
    if (report == nullptr || size == 0)
        return VI_ERROR_INV_PARAMETER;
    std::lock_guard lock(manager->reportMutex);
    const std::size_t n = std::min<std::size_t>(manager->findReport.size(), size - 1);
    std::memcpy(report, manager->findReport.data(), n);
    report[n] = '\0';
    return VI_SUCCESS;
}

ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
    const auto list = Table().FindFindList(vi);
    if (!list)
        return VI_ERROR_INV_OBJECT;
    if (desc == nullptr)
        return VI_ERROR_INV_PARAMETER;
    std::lock_guard lock(list->mutex);
    if (list->next >= list->names.size())
        return VI_ERROR_RSRC_NFOUND;
    CopyOut(list->names[list->next++], desc);
    return VI_SUCCESS;
}

ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                       ViPUInt16 intfNum, ViChar rsrcClass[], ViChar expandedUnaliasedName[],
                       ViChar aliasIfExists[]) {
    if (!Table().FindManager(rmSesn))
        return VI_ERROR_INV_OBJECT;
    if (rsrcName == nullptr)
        return VI_ERROR_INV_RSRC_NAME;
    ResourceName parsed;
    TransportRow row{};
    if (const ViStatus s = quarvel::visa::ParseResourceName(rsrcName, parsed, &row);
        s != VI_SUCCESS)
        return s;
    if (intfType != nullptr)
        *intfType = row.form->interfaceCode;
    if (intfNum != nullptr)
        *intfNum = static_cast<ViUInt16>(parsed.board);
    if (rsrcClass != nullptr)
        CopyOut(parsed.resourceClass, rsrcClass);
    if (expandedUnaliasedName != nullptr)
        CopyOut(quarvel::visa::CanonicalResourceName(parsed), expandedUnaliasedName);
    // This library keeps no aliases.
    if (aliasIfExists != nullptr)
        aliasIfExists[0] = '\0';
    return VI_SUCCESS;
}

ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                     ViPUInt16 intfNum) {
    return viParseRsrcEx(rmSesn, rsrcName, intfType, intfNum, nullptr, nullptr, nullptr);
}
