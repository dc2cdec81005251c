#include "tests/support/private_avahi.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

pid_t Spawn(const std::vector<std::string>& args, const std::string& log,
            const std::string& busAddress) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        close(fd);
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

void Stop(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 300 && !ended; ++i) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) { // not yet reaped, so the number is still the daemon's
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

// Waits (at most 10 s) until ready() or the process has ended (then reaped,
// pid -1).
template <typename Ready> bool WaitFor(pid_t& pid, Ready&& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready())
            return true;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

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
    m_dbus = Spawn({kDbusDaemon, "--nofork", "--config-file=" + m_dir.File("bus.conf")},
                   m_dir.File("dbus.log"), m_busAddress);
    if (!WaitFor(m_dbus, [&] { return PathExists(socket); }))
        return;
    std::vector<std::string> unshare = {kUnshare};
    if (geteuid() != 0)
        unshare.push_back("--map-root-user");
    const std::vector<std::string> more = {
        "--mount",
        "--propagation",
        "private",
        "/bin/sh",
        "-c",
        "mount --bind \"$0\" /run && exec " + std::string(kAvahiDaemon) +
            " -f \"$1\" --no-drop-root --no-chroot --no-rlimits --no-proc-title",
        m_dir.File("run"),
        m_dir.File("avahi-daemon.conf")};
    unshare.insert(unshare.end(), more.begin(), more.end());
    const auto startedUp = [&] {
        return ReadFileText(m_dir.File("avahi.log")).find("Server startup complete") !=
               std::string::npos;
    };
    m_avahi = Spawn(unshare, m_dir.File("avahi.log"), m_busAddress);
    m_started = WaitFor(m_avahi, startedUp);
    // Where namespaces are not allowed (some containers), root runs the
    // daemon as it is, with the machine's /run: fine unless another Avahi
    // daemon runs there, which the log then tells.
    if (!m_started && geteuid() == 0 && m_avahi < 0) {
        m_avahi = Spawn({kAvahiDaemon, "-f", m_dir.File("avahi-daemon.conf"), "--no-drop-root",
                         "--no-chroot", "--no-rlimits", "--no-proc-title"},
                        m_dir.File("avahi.log"), m_busAddress);
        m_started = WaitFor(m_avahi, startedUp);
    }
}

PrivateAvahi::~PrivateAvahi() {
    Freeze(false);
    Stop(m_avahi);
    Stop(m_dbus);
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
