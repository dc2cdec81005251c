#include "visa/discovery.h"

#include "visa/ascii.h"

#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>

namespace quarvel::visa {

namespace {

struct MethodName {
    const char* name;
    DiscoveryMethod method;
};
constexpr MethodName kMethodNames[] = {{"broadcast", kDiscoverBroadcast},
                                       {"probe", kDiscoverProbe},
                                       {"dnssd", kDiscoverDnssd},
                                       {"usb", kDiscoverUsb},
                                       {"library", kDiscoverLibrary}};

// Calls item(text) for each comma-separated item; false at the first empty
// item or the first item refused.
template <typename Item>
bool ForEachItemSeparatedBy(std::string_view text, char separator, Item&& item) {
    for (;;) {
        const std::size_t comma = text.find(separator);
        const std::string_view part = text.substr(0, comma);
        if (part.empty() || !item(part))
            return false;
        if (comma == std::string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}
template <typename Item> bool ForEachItem(std::string_view text, Item&& item) {
    return ForEachItemSeparatedBy(text, ',', item);
}

// A decimal number of 1 to 3 digits up to max, the whole text.
bool ParseSmallNumber(std::string_view text, unsigned max, unsigned& value) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    unsigned v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    if (v > max)
        return false;
    value = v;
    return true;
}

// Dotted decimal, exactly four parts.
bool ParseIpv4(std::string_view text, std::uint32_t& address) {
    std::uint32_t a = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos)
            return false;
        unsigned octet = 0;
        if (!ParseSmallNumber(text.substr(0, dot), 255, octet))
            return false;
        a = (a << 8) | octet;
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    address = a;
    return true;
}

// One item as a first and last address (inclusive).
bool ParseHostItem(std::string_view item, std::uint32_t& first, std::uint32_t& last) {
    if (const std::size_t slash = item.find('/'); slash != std::string_view::npos) {
        unsigned prefix = 0;
        std::uint32_t network = 0;
        if (!ParseIpv4(item.substr(0, slash), network) ||
            !ParseSmallNumber(item.substr(slash + 1), 32, prefix))
            return false;
        const std::uint32_t hostMask = prefix == 0 ? 0xFFFFFFFFu : (1u << (32 - prefix)) - 1u;
        first = network & ~hostMask;
        last = first | hostMask;
        if (prefix <= 30) {
            ++first; // neither the network's own address nor its broadcast
            --last;
        }
        return true;
    }
    if (const std::size_t dash = item.find('-'); dash != std::string_view::npos) {
        const std::string_view to = item.substr(dash + 1);
        if (!ParseIpv4(item.substr(0, dash), first))
            return false;
        unsigned lastOctet = 0;
        if (to.find('.') == std::string_view::npos) {
            if (!ParseSmallNumber(to, 255, lastOctet))
                return false;
            last = (first & 0xFFFFFF00u) | lastOctet;
        } else if (!ParseIpv4(to, last)) {
            return false;
        }
        return first <= last;
    }
    if (!ParseIpv4(item, first))
        return false;
    last = first;
    return true;
}

// Letters, digits and '-' in dot-separated labels of 1 to 63 characters
// (no '-' at either end), 253 at most, with a letter somewhere: a mistyped
// address ("10.0.0.256") stays an error instead of becoming a name.
bool IsHostName(std::string_view text) {
    if (text.empty() || text.size() > 253 || std::none_of(text.begin(), text.end(), [](char c) {
            return std::isalpha(static_cast<unsigned char>(c)) != 0;
        }))
        return false;
    return ForEachItemSeparatedBy(text, '.', [](std::string_view label) {
        return label.size() <= 63 && label.front() != '-' && label.back() != '-' &&
               std::all_of(label.begin(), label.end(), [](char c) {
                   return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
               });
    });
}

} // namespace

bool ParseDiscoveryMethods(std::string_view text, unsigned& methods) {
    unsigned parsed = 0;
    const bool ok = ForEachItem(text, [&](std::string_view name) {
        for (const MethodName& m : kMethodNames)
            if (ascii::EqualsIgnoringCase(name, m.name)) {
                parsed |= m.method;
                return true;
            }
        return false;
    });
    if (!ok)
        return false;
    methods = parsed;
    return true;
}

std::string DiscoveryMethodNames(unsigned methods) {
    std::string text;
    for (const MethodName& m : kMethodNames)
        if ((methods & m.method) != 0)
            text += (text.empty() ? "" : ",") + std::string(m.name);
    return text;
}

bool ParseProbeHosts(std::string_view text, std::vector<std::uint32_t>& hosts,
                     std::vector<std::string>* names) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    std::vector<std::string> named;
    std::uint64_t count = 0;
    const bool ok = ForEachItem(text, [&](std::string_view item) {
        std::uint32_t first = 0;
        std::uint32_t last = 0;
        if (!ParseHostItem(item, first, last)) {
            if (names == nullptr || !IsHostName(item))
                return false;
            named.emplace_back(item);
            return ++count <= kMaxProbeHosts;
        }
        // Counted before anything is stored: the bound holds for any text.
        count += std::uint64_t{last} - first + 1;
        if (count > kMaxProbeHosts)
            return false;
        ranges.emplace_back(first, last);
        return true;
    });
    if (!ok)
        return false;
    for (const auto& [first, last] : ranges)
        for (std::uint64_t a = first; a <= last; ++a)
            hosts.push_back(static_cast<std::uint32_t>(a));
    if (names != nullptr)
        names->insert(names->end(), named.begin(), named.end());
    return true;
}

void ResolveProbeNames(const std::vector<std::string>& names,
                       std::chrono::steady_clock::time_point deadline,
                       std::vector<std::uint32_t>& hosts, std::vector<std::string>& unresolved) {
    // glibc's resolver thread writes into a request until it ends, so one
    // abandoned while running is left to it (a few hundred bytes).
    struct Lookup {
        std::string name;
        addrinfo hints{};
        gaicb request{};
    };
    std::vector<std::unique_ptr<Lookup>> lookups;
    std::vector<gaicb*> requests;
    for (const std::string& name : names) {
        auto lookup = std::make_unique<Lookup>();
        lookup->name = name;
        lookup->hints.ai_family = AF_INET;
        lookup->hints.ai_socktype = SOCK_DGRAM;
        lookup->request.ar_name = lookup->name.c_str();
        lookup->request.ar_request = &lookup->hints;
        requests.push_back(&lookup->request);
        lookups.push_back(std::move(lookup));
    }
    if (requests.empty())
        return;
    if (getaddrinfo_a(GAI_NOWAIT, requests.data(), static_cast<int>(requests.size()), nullptr) !=
        0) {
        unresolved.insert(unresolved.end(), names.begin(), names.end());
        return;
    }
    const auto running = [&] {
        return std::any_of(requests.begin(), requests.end(),
                           [](gaicb* r) { return gai_error(r) == EAI_INPROGRESS; });
    };
    while (running()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(100)));
        const timespec slice{0, static_cast<long>(wait.count())};
        gai_suspend(requests.data(), static_cast<int>(requests.size()), &slice);
    }
    for (std::unique_ptr<Lookup>& lookup : lookups) {
        gaicb& request = lookup->request;
        if (gai_error(&request) == EAI_INPROGRESS)
            gai_cancel(&request);
        const int status = gai_error(&request);
        if (status == 0) {
            for (const addrinfo* a = request.ar_result; a != nullptr; a = a->ai_next)
                hosts.push_back(
                    ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr));
            freeaddrinfo(request.ar_result);
            continue;
        }
        unresolved.push_back(lookup->name);
        if (status == EAI_INPROGRESS)
            lookup.release(); // still the resolver's
    }
}

std::string Ipv4Text(std::uint32_t a) {
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 0xFF) + '.' +
           std::to_string((a >> 8) & 0xFF) + '.' + std::to_string(a & 0xFF);
}

void FindNotes::Add(std::string line) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back(std::move(line));
}

std::string FindNotes::Text() const {
    std::lock_guard lock(m_mutex);
    std::string text;
    for (const std::string& line : m_lines)
        text += line + '\n';
    return text;
}

} // namespace quarvel::visa
