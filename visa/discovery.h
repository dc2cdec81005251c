#pragma once

// How viFindRsrc looks for instruments beyond what a resource string names:
// the methods a resource manager may use (QUARVEL_DISCOVERY,
// QVI_ATTR_DISCOVERY_METHODS), the hosts a unicast probe asks
// (QUARVEL_PROBE, QVI_ATTR_PROBE_HOSTS), and the notes each method leaves
// about what it did or why it found nothing (qviFindReport).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::visa {

enum DiscoveryMethod : unsigned {
    kDiscoverBroadcast = 1u << 0, // VXI-11 GETPORT to every interface's broadcast address
    kDiscoverProbe = 1u << 1,     // VXI-11 GETPORT to each host named
    kDiscoverDnssd = 1u << 2,     // DNS-SD through the Avahi daemon
    kDiscoverUsb = 1u << 3,       // USB/IP servers
    kDiscoverLibrary = 1u << 4,   // the loaded VISA library's own viFindRsrc
};
constexpr unsigned kAllDiscoveryMethods =
    kDiscoverBroadcast | kDiscoverProbe | kDiscoverDnssd | kDiscoverUsb | kDiscoverLibrary;

// How long the LAN methods collect answers unless told otherwise.
constexpr std::uint32_t kDefaultDiscoveryMs = 1000;
// The longest a lister waits before it looks whether the search has been
// cancelled (qviCancelFind): closing the Find list ends its search at once,
// not after the listening time.
constexpr std::chrono::milliseconds kFindCancelPoll{20};
// A probe asks at most this many hosts (a /20 network): a mistyped /8 must
// not send sixteen million datagrams.
constexpr std::size_t kMaxProbeHosts = 4096;

// "probe,dnssd": method names separated by commas, case-insensitive
// ("broadcast", "probe", "dnssd", "usb", "library"). False for an unknown name or an
// empty item; methods is then unchanged.
bool ParseDiscoveryMethods(std::string_view text, unsigned& methods);
// The names of the methods set, in the order above, separated by commas.
std::string DiscoveryMethodNames(unsigned methods);

// IPv4 addresses, ranges and networks separated by commas:
// "10.0.0.5", "127.0.0.1-127.0.0.9" (or "127.0.0.1-9"), "192.168.1.0/24"
// (network and broadcast addresses left out up to /30), and, when `names`
// is given, host names ("scope-3.lab"; each counts as one host), appended
// there to be resolved when the probe runs. Appends the hosts in host byte
// order. False (hosts and names unchanged) for any malformed item, a range
// that runs backwards, or more than kMaxProbeHosts in all.
bool ParseProbeHosts(std::string_view text, std::vector<std::uint32_t>& hosts,
                     std::vector<std::string>* names = nullptr);
// Appends the IPv4 addresses of `names` (getaddrinfo, all looked up at
// once) to `hosts`, and the names without one by `deadline` to
// `unresolved`. A lookup still running then is abandoned: the resolver's
// own timeouts do not hold the probe.
void ResolveProbeNames(const std::vector<std::string>& names,
                       std::chrono::steady_clock::time_point deadline,
                       std::vector<std::uint32_t>& hosts, std::vector<std::string>& unresolved);
// "192.168.1.20"
std::string Ipv4Text(std::uint32_t address);

// One line per method that had something to say; listers run in parallel.
class FindNotes {
public:
    void Add(std::string line);
    std::string Text() const; // the lines, each ended by '\n'

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace quarvel::visa
