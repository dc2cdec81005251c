// Finding LAN instruments by DNS-SD: the services instruments announce over
// multicast DNS (LXI instruments must), browsed and resolved through the
// Avahi daemon's client library. Each service becomes the resource string of
// its protocol: _hislip._tcp → TCPIP0::addr::hislip0[,port]::INSTR,
// _vxi-11._tcp and _lxi._tcp → TCPIP0::addr::inst0::INSTR, _scpi-raw._tcp →
// TCPIP0::addr::port::SOCKET. Without a daemon this way finds nothing, and
// its note says why.

#include "visa/builtin_transports.h"
#include "visa/discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quarvel::visa {

namespace {

enum class ServiceKind { Hislip, Vxi11, Socket };

struct ServiceType {
    const char* type;
    ServiceKind kind;
};
constexpr ServiceType kServiceTypes[] = {{"_hislip._tcp", ServiceKind::Hislip},
                                         {"_vxi-11._tcp", ServiceKind::Vxi11},
                                         {"_lxi._tcp", ServiceKind::Vxi11},
                                         {"_scpi-raw._tcp", ServiceKind::Socket}};
constexpr std::uint16_t kHislipDefaultPort = 4880;

std::string ResourceOf(ServiceKind kind, const std::string& address, std::uint16_t port) {
    switch (kind) {
    case ServiceKind::Hislip:
        return "TCPIP0::" + address + "::hislip0" +
               (port == kHislipDefaultPort ? std::string() : "," + std::to_string(port)) +
               "::INSTR";
    case ServiceKind::Vxi11:
        // The service's port is the portmapper's (or a web server's for
        // _lxi); VXI-11 finds its core channel through the portmapper.
        return "TCPIP0::" + address + "::inst0::INSTR";
    case ServiceKind::Socket:
        return "TCPIP0::" + address + "::" + std::to_string(port) + "::SOCKET";
    }
    return {};
}

struct Search {
    AvahiClient* client = nullptr;
    int browsing = 0;  // browsers that have not yet said "all for now"
    int resolving = 0; // resolvers not yet answered
    int services = 0;
    bool failed = false;
    std::string failure;
    std::vector<std::string> found;
};

void OnResolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                AvahiResolverEvent event, const char*, const char* type, const char*, const char*,
                const AvahiAddress* address, std::uint16_t port, AvahiStringList*,
                AvahiLookupResultFlags, void* user) {
    auto* search = static_cast<Search*>(user);
    --search->resolving;
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr && type != nullptr) {
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        avahi_address_snprint(text, sizeof text, address);
        for (const ServiceType& t : kServiceTypes)
            if (std::strcmp(t.type, type) == 0)
                search->found.push_back(ResourceOf(t.kind, text, port));
    }
    avahi_service_resolver_free(resolver);
}

void OnBrowsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
               AvahiLookupResultFlags, void* user) {
    auto* search = static_cast<Search*>(user);
    switch (event) {
    case AVAHI_BROWSER_NEW:
        ++search->services;
        if (avahi_service_resolver_new(search->client, interface, protocol, name, type, domain,
                                       AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0),
                                       OnResolved, search) != nullptr)
            ++search->resolving;
        break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
        --search->browsing;
        break;
    case AVAHI_BROWSER_FAILURE:
        search->failed = true;
        search->failure = avahi_strerror(avahi_client_errno(search->client));
        break;
    default:
        break;
    }
}

void OnClientState(AvahiClient* client, AvahiClientState state, void* user) {
    auto* search = static_cast<Search*>(user);
    if (state == AVAHI_CLIENT_FAILURE) {
        search->failed = true;
        search->failure = avahi_strerror(avahi_client_errno(client));
    }
}

struct PollFree {
    void operator()(AvahiSimplePoll* p) const { avahi_simple_poll_free(p); }
};
struct ClientFree {
    void operator()(AvahiClient* c) const { avahi_client_free(c); }
};
struct BrowserFree {
    void operator()(AvahiServiceBrowser* b) const { avahi_service_browser_free(b); }
};

struct ConnectionClose {
    void operator()(DBusConnection* c) const {
        dbus_connection_close(c);
        dbus_connection_unref(c);
    }
};
struct MessageUnref {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
struct PendingUnref {
    void operator()(DBusPendingCall* p) const {
        dbus_pending_call_cancel(p);
        dbus_pending_call_unref(p);
    }
};

// avahi_client_new asks the daemon over the system bus with libdbus's
// default timeout (25 s): a bus that takes the connection while the daemon
// (or the bus) hangs would hold the search that long. So the same first
// questions are asked here on a connection of our own, bounded by `until`
// and looking at the search's cancel between 20 ms waits: the bus's Hello,
// then the daemon's state. Empty when both are answered; otherwise what to
// tell.
std::string AvahiUnanswered(const SessionSettings& settings, Deadline until) {
    const char* env = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string address =
        env != nullptr && *env != '\0' ? env : "unix:path=/var/run/dbus/system_bus_socket";
    DBusError error;
    dbus_error_init(&error);
    const std::unique_ptr<DBusConnection, ConnectionClose> bus(
        dbus_connection_open_private(address.c_str(), &error));
    if (!bus) {
        const std::string text =
            std::string("the Avahi daemon cannot be reached: no system bus (") +
            (error.message != nullptr ? error.message : "") + ")";
        dbus_error_free(&error);
        return text;
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    struct Question {
        const char* destination;
        const char* path;
        const char* interface;
        const char* method;
        const char* who;
    };
    constexpr Question kQuestions[] = {
        {DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello", "the system bus"},
        {"org.freedesktop.Avahi", "/", "org.freedesktop.Avahi.Server", "GetState",
         "the Avahi daemon"}};
    for (const Question& q : kQuestions) {
        const std::unique_ptr<DBusMessage, MessageUnref> call(
            dbus_message_new_method_call(q.destination, q.path, q.interface, q.method));
        DBusPendingCall* sent = nullptr;
        if (!call ||
            !dbus_connection_send_with_reply(bus.get(), call.get(), &sent, DBUS_TIMEOUT_INFINITE) ||
            sent == nullptr)
            return std::string(q.who) + " cannot be reached (disconnected)";
        const std::unique_ptr<DBusPendingCall, PendingUnref> pending(sent);
        while (!dbus_pending_call_get_completed(pending.get())) {
            if (FindCancelled(settings))
                return "cancelled";
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::string(q.who) + " did not answer in time";
            if (!dbus_connection_read_write_dispatch(
                    bus.get(), static_cast<int>(std::min(left, kFindCancelPoll).count())))
                return std::string(q.who) + " cannot be reached (disconnected)";
        }
        const std::unique_ptr<DBusMessage, MessageUnref> reply(
            dbus_pending_call_steal_reply(pending.get()));
        if (reply && dbus_set_error_from_message(&error, reply.get())) {
            const std::string text = std::string(q.who) + " cannot be reached (" +
                                     (error.message != nullptr ? error.message : "") + ")";
            dbus_error_free(&error);
            return text;
        }
    }
    return {};
}

} // namespace

void FindDnssdResources(const SessionSettings& settings, Deadline deadline,
                        std::vector<std::string>& found) {
    if ((settings.discoveryMethods & kDiscoverDnssd) == 0)
        return;
    const auto note = [&](const std::string& line) {
        if (settings.findNotes != nullptr)
            settings.findNotes->Add("dnssd: " + line);
    };
    const Deadline until = std::min(deadline, DeadlineAfter(settings.discoveryMs));
    const std::unique_ptr<AvahiSimplePoll, PollFree> poll(avahi_simple_poll_new());
    if (!poll) {
        note("out of memory");
        return;
    }
    if (const std::string unanswered = AvahiUnanswered(settings, until); !unanswered.empty()) {
        if (!FindCancelled(settings)) // viFindRsrc notes a cancel
            note(unanswered + "; is avahi-daemon running?");
        return;
    }
    Search search;
    int error = 0;
    // Without AVAHI_CLIENT_NO_FAIL: no daemon is an answer, not a wait.
    const std::unique_ptr<AvahiClient, ClientFree> client(
        avahi_client_new(avahi_simple_poll_get(poll.get()), static_cast<AvahiClientFlags>(0),
                         OnClientState, &search, &error));
    if (!client) {
        note(std::string("the Avahi daemon cannot be reached (") + avahi_strerror(error) +
             "); is avahi-daemon running?");
        return;
    }
    search.client = client.get();
    std::vector<std::unique_ptr<AvahiServiceBrowser, BrowserFree>> browsers;
    for (const ServiceType& t : kServiceTypes) {
        AvahiServiceBrowser* b = avahi_service_browser_new(
            client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, t.type, nullptr,
            static_cast<AvahiLookupFlags>(0), OnBrowsed, &search);
        if (b == nullptr) {
            note(std::string("cannot browse ") + t.type + ": " +
                 avahi_strerror(avahi_client_errno(client.get())));
            continue;
        }
        browsers.emplace_back(b);
        ++search.browsing;
    }
    // Until every browser has read what the daemon knows and every service
    // found is resolved, or the time is up, or the search is cancelled.
    while (!search.failed && (search.browsing > 0 || search.resolving > 0) &&
           !FindCancelled(settings)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        const auto slice = std::min<long long>(left, kFindCancelPoll.count());
        if (left <= 0 || avahi_simple_poll_iterate(poll.get(), static_cast<int>(slice)) != 0)
            break;
    }
    if (search.failed)
        note("the Avahi daemon failed: " + search.failure);
    note(std::to_string(search.services) + " services found, " +
         std::to_string(search.found.size()) + " resolved" +
         (search.browsing > 0 || search.resolving > 0 ? " (time up)" : ""));
    std::sort(search.found.begin(), search.found.end());
    browsers.clear(); // before their client
    found.insert(found.end(), search.found.begin(), search.found.end());
}

} // namespace quarvel::visa
