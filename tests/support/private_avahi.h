#pragma once

// A private Avahi daemon for DNS-SD tests, on a private D-Bus system bus,
// that sees the loopback interface only: it never sends anything on a real
// interface, and never meets the machine's own bus or daemon.
//
// dbus-daemon runs with a system-bus configuration of its own (its socket in
// a temporary directory); avahi-daemon with allow-interfaces=lo, IPv4 only,
// no reflector, no wide area, publishing nothing of the machine. The daemon
// keeps its PID file and socket at a fixed place under /run; it runs in a
// mount namespace of its own (unshare) with a temporary directory mounted on
// /run, so it neither needs root's /run nor meets another daemon there.
// Without root the namespace is a user namespace in which the test's user
// is root (unshare --map-root-user), and the daemon keeps that identity
// (--no-drop-root). Where namespaces are not allowed, root runs the daemon
// without one. Set DBUS_SYSTEM_BUS_ADDRESS to BusAddress() for the
// processes that are to use it (libavahi-client reads it).

#include "tests/support/temp_dir.h"

#include <string>
#include <sys/types.h>

namespace quarvel::test {

class PrivateAvahi {
public:
    PrivateAvahi();
    ~PrivateAvahi();
    PrivateAvahi(const PrivateAvahi&) = delete;
    PrivateAvahi& operator=(const PrivateAvahi&) = delete;

    // Both daemons run and the Avahi daemon has completed its start-up.
    bool Started() const { return m_started; }
    // "unix:path=<dir>/bus"
    const std::string& BusAddress() const { return m_busAddress; }
    // Stops the Avahi daemon (SIGSTOP), or lets it go on: a daemon that
    // keeps its name on the bus and answers nothing.
    void Freeze(bool frozen);
    // What went wrong, or the daemons' output.
    std::string Log() const;

private:
    TempDir m_dir;
    std::string m_busAddress;
    pid_t m_dbus = -1;
    pid_t m_avahi = -1;
    bool m_started = false;
};

} // namespace quarvel::test
