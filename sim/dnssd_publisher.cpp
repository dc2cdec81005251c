#include "sim/dnssd_publisher.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

#include <unistd.h>

namespace quarvel::sim {

struct DnssdPublisher::State {
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    std::string instanceName;
    std::string hostName;
    AvahiAddress address{};
    std::vector<DnssdService> services;
    Report report;
    bool reported = false;

    void Tell(const std::string& line) {
        if (!reported && report)
            report(line);
        reported = true;
    }
};

namespace {

using State = DnssdPublisher::State;

void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* user) {
    auto* s = static_cast<State*>(user);
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED)
        s->Tell("dnssd published");
    else if (state == AVAHI_ENTRY_GROUP_COLLISION)
        s->Tell("dnssd failed: name collision");
    else if (state == AVAHI_ENTRY_GROUP_FAILURE)
        s->Tell(std::string("dnssd failed: ") +
                avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
}

// Runs on the poll's thread once the daemon has registered the client.
void AddRecords(AvahiClient* client, State& s) {
    if (s.group == nullptr)
        s.group = avahi_entry_group_new(client, OnGroupState, &s);
    if (s.group == nullptr) {
        s.Tell(std::string("dnssd failed: ") + avahi_strerror(avahi_client_errno(client)));
        return;
    }
    // The host record leaves out the reverse (PTR) name: the address is
    // the machine's own loopback, which other records may name too.
    int r = avahi_entry_group_add_address(s.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                          AVAHI_PUBLISH_NO_REVERSE, s.hostName.c_str(), &s.address);
    for (const DnssdService& service : s.services)
        if (r >= 0)
            r = avahi_entry_group_add_service(s.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                              static_cast<AvahiPublishFlags>(0),
                                              s.instanceName.c_str(), service.type.c_str(), nullptr,
                                              s.hostName.c_str(), service.port, nullptr);
    if (r >= 0)
        r = avahi_entry_group_commit(s.group);
    if (r < 0)
        s.Tell(std::string("dnssd failed: ") + avahi_strerror(r));
}

void OnClientState(AvahiClient* client, AvahiClientState state, void* user) {
    auto* s = static_cast<State*>(user);
    if (state == AVAHI_CLIENT_S_RUNNING)
        AddRecords(client, *s);
    else if (state == AVAHI_CLIENT_FAILURE)
        s->Tell(std::string("dnssd failed: ") + avahi_strerror(avahi_client_errno(client)));
    else if (state == AVAHI_CLIENT_S_COLLISION)
        s->Tell("dnssd failed: the daemon's host name collides");
}

} // namespace

DnssdPublisher::DnssdPublisher() = default;

DnssdPublisher::~DnssdPublisher() {
    if (!m_state)
        return;
    if (m_state->poll != nullptr)
        avahi_threaded_poll_stop(m_state->poll);
    if (m_state->client != nullptr)
        avahi_client_free(m_state->client); // its entry group with it
    if (m_state->poll != nullptr)
        avahi_threaded_poll_free(m_state->poll);
}

bool DnssdPublisher::Start(const std::string& instanceName, const std::string& address,
                           std::vector<DnssdService> services, Report report, std::string& error) {
    m_state = std::make_unique<State>();
    State& s = *m_state;
    s.instanceName = instanceName;
    s.hostName = "quarvel-sim-" + std::to_string(getpid()) + ".local";
    s.services = std::move(services);
    s.report = std::move(report);
    if (avahi_address_parse(address.c_str(), AVAHI_PROTO_INET, &s.address) == nullptr) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    s.poll = avahi_threaded_poll_new();
    if (s.poll == nullptr) {
        error = "out of memory";
        return false;
    }
    int code = 0;
    s.client = avahi_client_new(avahi_threaded_poll_get(s.poll), static_cast<AvahiClientFlags>(0),
                                OnClientState, &s, &code);
    if (s.client == nullptr) {
        error = std::string("the Avahi daemon cannot be reached (") + avahi_strerror(code) + ")";
        return false;
    }
    if (avahi_threaded_poll_start(s.poll) < 0) {
        error = "cannot start the DNS-SD thread";
        return false;
    }
    return true;
}

} // namespace quarvel::sim
