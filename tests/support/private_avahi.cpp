#include "tests/support/private_avahi.h"
#include "tests/support/child_process.h"

#include <sys/stat.h>

namespace quarvel::test {
namespace {

constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
constexpr const char* kAvahiDaemon = "/usr/sbin/avahi-daemon";
constexpr const char* kUnshare = "/usr/bin/unshare";

// The machine's system bus configuration with its own socket, and a policy
// that lets the test's user own Avahi's name (the machine's allows only the
// avahi user).
std::string BusConfig(const std::string& socket) {
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" +
           socket + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";
}

constexpr const char* kAvahiConfig = R"([server]
host-name=quarvel-test
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=no
publish-hinfo=no
publish-workstation=no
publish-domain=no
[reflector]
enable-reflector=no
)";

} // namespace

PrivateAvahi::PrivateAvahi() {
    for (const char* program : {kDbusDaemon, kAvahiDaemon, kUnshare})
        if (access(program, X_OK) != 0) {
            WriteFileBytes(m_dir.File("setup.log"),
                           std::string(program) + " is missing (scripts/test.sh installs it)\n");
            return;
        }
    const std::string socket = m_dir.File("bus");
    m_busAddress = "unix:path=" + socket;
    mkdir(m_dir.File("run").c_str(), 0755);
    if (!WriteFileBytes(m_dir.File("bus.conf"), BusConfig(socket)) ||
        !WriteFileBytes(m_dir.File("avahi-daemon.conf"), kAvahiConfig))
        return;
    const std::vector<std::string> env = {"DBUS_SYSTEM_BUS_ADDRESS=" + m_busAddress};
    m_dbus = SpawnLogged({kDbusDaemon, "--nofork", "--config-file=" + m_dir.File("bus.conf")},
                         m_dir.File("dbus.log"), env);
    if (!WaitForChild(m_dbus, [&] { return PathExists(socket); }))
        return;
    const std::vector<std::string> daemon = {
        kAvahiDaemon,     "-f",          m_dir.File("avahi-daemon.conf"),
        "--no-drop-root", "--no-chroot", "--no-rlimits",
        "--no-proc-title"};
    const auto startedUp = [&] {
        return ReadFileText(m_dir.File("avahi.log")).find("Server startup complete") !=
               std::string::npos;
    };
    // The daemon in a mount namespace of its own with our directory on /run
    // ("$@" its command line); as root without a user namespace.
    const std::string bindRun = "mount --bind \"$0\" /run && exec \"$@\"";
    std::vector<std::string> unshare = {kUnshare,  "--mount", "--propagation", "private",
                                        "/bin/sh", "-c",      bindRun,         m_dir.File("run")};
    if (geteuid() != 0)
        unshare.insert(unshare.begin() + 1, "--map-root-user");
    unshare.insert(unshare.end(), daemon.begin(), daemon.end());
    m_avahi = SpawnLogged(unshare, m_dir.File("avahi.log"), env);
    m_started = WaitForChild(m_avahi, startedUp);
    // Where namespaces are not allowed (some containers), root runs the
    // daemon as it is, with the machine's /run: fine unless another Avahi
    // daemon runs there, which the log then tells.
    if (!m_started && geteuid() == 0 && m_avahi < 0) {
        m_avahi = SpawnLogged(daemon, m_dir.File("avahi.log"), env);
        m_started = WaitForChild(m_avahi, startedUp);
    }
}

PrivateAvahi::~PrivateAvahi() {
    Freeze(false);
    StopChild(m_avahi);
    StopChild(m_dbus);
}

void PrivateAvahi::Freeze(bool frozen) {
    // The unshare process became the daemon (exec, no fork).
    if (m_avahi > 0)
        kill(m_avahi, frozen ? SIGSTOP : SIGCONT);
}

std::string PrivateAvahi::Log() const {
    return ReadFileText(m_dir.File("setup.log")) + ReadFileText(m_dir.File("dbus.log")) +
           ReadFileText(m_dir.File("avahi.log"));
}

} // namespace quarvel::test
