#pragma once

// Finding instruments for quarvel-cli list and the window's Find list:
// viFindRsrc over every way the VISA layer can look (USB/IP servers, VXI-11
// broadcast and probe, DNS-SD, the loaded VISA library's own list), then, when asked, each one's
// *IDN? reply, queried side by side (one session per thread) so that ten instruments do not take
// ten timeouts. Blocking: the window calls it from a worker thread.

#include "instr/visa_library_choice.h"
#include "visa/visa.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quarvel::instr {

struct FindRequest {
    // "probe,dnssd" (QVI_ATTR_DISCOVERY_METHODS); empty: the library's
    // default (QUARVEL_DISCOVERY, or every way).
    std::string methods;
    std::string probeHosts;      // "127.0.0.1-127.0.0.9,192.168.1.0/24"; empty: none
    std::string usbipServers;    // "host:port,..."; empty: none besides QUARVEL_USBIP
    ViUInt32 portmapperPort = 0; // 0: the library's default
    // How long the LAN ways collect answers and each *IDN? may take; 0: the
    // defaults (1 s and the session's 2 s).
    ViUInt32 timeoutMs = 0;
    bool identify = false;
    // Called with the new resource manager before anything else (more
    // attributes, another VISA library); false ends the search with
    // VI_ERROR_LIBRARY_NFOUND.
    std::function<bool(ViSession rm)> prepare;
    // Another VISA library to list and open resources through (the window's
    // choice; quarvel-cli gives its own in prepare). One that cannot be
    // loaded is named in the report, and the search goes on without it.
    VisaLibraryChoice visaLibrary;
    // Lets another thread end the search (null: it runs to its end).
    std::shared_ptr<class FindCanceller> cancel;
};

// Ends a search from another thread: its listening stops within a few tens
// of milliseconds, no identification starts, and those under way stop at
// their next wait (a connection being made still takes its own time).
class FindCanceller {
public:
    void Cancel();
    bool Cancelled() const { return m_cancelled; }

    // FindInstruments' side: the resource manager the search runs on, so
    // that a cancel reaches it (qviCancelFind); VI_NULL when it is closed.
    void Attach(ViSession rm);

private:
    std::mutex m_mutex;
    ViSession m_rm = VI_NULL;
    std::atomic<bool> m_cancelled{false};
};

struct FoundInstrument {
    std::string resource;
    // The *IDN? reply without trailing white space, "(VI_ERROR_TMO)" and the
    // like when it failed, empty when not asked.
    std::string identification;
};

struct FindResult {
    // VI_SUCCESS also when nothing was found; otherwise why the search could
    // not run (a value the library refused, no resource manager).
    ViStatus status = VI_SUCCESS;
    std::vector<FoundInstrument> instruments;
    // What each way did or why it found nothing (qviFindReport).
    std::string report;
};

// At most this many identifications run at once.
constexpr std::size_t kMaxParallelIdentifications = 16;

FindResult FindInstruments(const FindRequest& request);

} // namespace quarvel::instr
