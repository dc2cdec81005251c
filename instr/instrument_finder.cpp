#include "instr/instrument_finder.h"

#include "visa/visa_internal.h"

#include <algorithm>
#include <thread>

namespace quarvel::instr {

namespace {

ViStatus SetText(ViSession rm, ViAttr attribute, const std::string& text) {
    return viSetAttribute(rm, attribute, reinterpret_cast<ViAttrState>(text.c_str()));
}

ViStatus Configure(ViSession rm, const FindRequest& request) {
    ViStatus s = VI_SUCCESS;
    if (!request.methods.empty())
        s = SetText(rm, QVI_ATTR_DISCOVERY_METHODS, request.methods);
    if (s == VI_SUCCESS && !request.probeHosts.empty())
        s = SetText(rm, QVI_ATTR_PROBE_HOSTS, request.probeHosts);
    if (s == VI_SUCCESS && !request.usbipServers.empty())
        s = SetText(rm, QVI_ATTR_USBIP_SERVERS, request.usbipServers);
    if (s == VI_SUCCESS && request.portmapperPort != 0)
        s = viSetAttribute(rm, QVI_ATTR_PORTMAPPER_PORT, request.portmapperPort);
    if (s == VI_SUCCESS && request.timeoutMs != 0) {
        s = viSetAttribute(rm, QVI_ATTR_DISCOVERY_TMO, request.timeoutMs);
        // The whole search (USB/IP servers too) gets a second more than
        // the LAN's listening time.
        if (s == VI_SUCCESS)
            s = viSetAttribute(rm, VI_ATTR_TMO_VALUE,
                               std::min<ViUInt32>(request.timeoutMs, 3600000u) + 1000u);
    }
    return s;
}

// Our transports wake every few tens of milliseconds while they wait and
// ask this whether to go on.
ViInt32 GoOnUnlessCancelled(ViSession, ViUInt64, ViUInt64, ViAddr canceller) {
    return static_cast<const FindCanceller*>(canceller)->Cancelled() ? QVI_PROGRESS_CANCEL
                                                                     : QVI_PROGRESS_CONTINUE;
}

std::string Identify(ViSession rm, const std::string& resource, ViUInt32 timeoutMs,
                     FindCanceller* canceller) {
    ViSession vi = VI_NULL;
    ViStatus s = viOpen(rm, resource.c_str(), VI_NULL, VI_NULL, &vi);
    if (s != VI_SUCCESS)
        return std::string("(") + qviStatusName(s) + ")";
    if (timeoutMs != 0)
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs);
    // Sessions a loaded library serves have no progress handler; they run
    // to their reply or timeout.
    if (canceller != nullptr)
        qviSetProgressHandler(vi, GoOnUnlessCancelled, canceller);
    char reply[256] = {};
    s = viQueryf(vi, "*IDN?\n", "%256t", reply);
    viClose(vi);
    if (s != VI_SUCCESS)
        return std::string("(") + qviStatusName(s) + ")";
    std::string text = reply;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

void FindCanceller::Cancel() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_rm != VI_NULL)
        qviCancelFind(m_rm);
}

void FindCanceller::Attach(ViSession rm) {
    std::lock_guard lock(m_mutex);
    m_rm = rm;
    // A cancel that came first holds for this search too.
    if (m_cancelled && rm != VI_NULL)
        qviCancelFind(rm);
}

FindResult FindInstruments(const FindRequest& request) {
    FindResult result;
    ViSession rm = VI_NULL;
    result.status = viOpenDefaultRM(&rm);
    if (result.status != VI_SUCCESS)
        return result;
    FindCanceller* const canceller = request.cancel.get();
    if (canceller != nullptr)
        canceller->Attach(rm);
    result.status =
        request.prepare && !request.prepare(rm) ? VI_ERROR_LIBRARY_NFOUND : Configure(rm, request);
    if (result.status != VI_SUCCESS) {
        if (canceller != nullptr)
            canceller->Attach(VI_NULL);
        viClose(rm);
        return result;
    }
    std::string libraryFailure;
    if (!request.visaLibrary.path.empty()) {
        char message[QVI_MESSAGE_BUFLEN] = {};
        if (qviUseVisaLibrary(rm, request.visaLibrary.path.c_str(),
                              request.visaLibrary.allResources ? QVI_LIBRARY_FOR_ALL
                                                               : QVI_LIBRARY_FOR_OTHERS,
                              message) != VI_SUCCESS)
            libraryFailure = std::string("library: ") + message + "\n";
    }
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char name[256] = {};
    const ViStatus s = viFindRsrc(rm, "?*", &list, &count, name);
    if (s == VI_SUCCESS) {
        result.instruments.push_back({name, {}});
        while (result.instruments.size() < count && viFindNext(list, name) == VI_SUCCESS)
            result.instruments.push_back({name, {}});
        viClose(list);
    } else if (s != VI_ERROR_RSRC_NFOUND) {
        result.status = s;
    }
    char report[4096] = {};
    if (qviFindReport(rm, report, sizeof report) == VI_SUCCESS)
        result.report = libraryFailure + report;

    const auto cancelled = [canceller] { return canceller != nullptr && canceller->Cancelled(); };
    if (request.identify && !cancelled()) {
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            for (std::size_t i = next++; i < result.instruments.size() && !cancelled(); i = next++)
                result.instruments[i].identification =
                    Identify(rm, result.instruments[i].resource, request.timeoutMs, canceller);
        };
        std::vector<std::thread> threads;
        const std::size_t n = std::min(result.instruments.size(), kMaxParallelIdentifications);
        for (std::size_t i = 0; i < n; ++i)
            threads.emplace_back(work);
        for (std::thread& t : threads)
            t.join();
    }
    if (canceller != nullptr)
        canceller->Attach(VI_NULL);
    viClose(rm);
    return result;
}

} // namespace quarvel::instr
