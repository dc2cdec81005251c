#include "sim/dnssd_publisher.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quarvel::sim {

namespace {

constexpr const char* kTool = "avahi-publish";

// One avahi-publish: one record, kept while it runs.
struct Child {
    std::string record; // what it publishes, for messages: "address", "_hislip._tcp"
    pid_t pid = -1;     // -1 once reaped
    int output = -1;    // its standard output and error; -1 once closed
    std::string pending;
    std::string lastLine;
    bool established = false;
};

// The tool's full path from PATH, found before any fork (execve needs no
// search then, and a missing tool is reported at once).
std::string FindTool() {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + kTool;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// The environment the children get: ours, with their messages in the C
// locale, since the reader below recognises them by their English words.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("LC_ALL=", 0) != 0 && entry.rfind("LANG=", 0) != 0 &&
            entry.rfind("LANGUAGE=", 0) != 0 && entry.rfind("LC_MESSAGES=", 0) != 0)
            env.push_back(entry);
    }
    env.push_back("LC_ALL=C");
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts tool with args; between fork and execve only async-signal-safe
// calls (the simulator has threads). False with errno's reason.
bool Spawn(const std::string& tool, std::vector<std::string> args, std::vector<std::string> env,
           Child& child, std::string& error) {
    args.insert(args.begin(), tool);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    const long openMax = std::min(sysconf(_SC_OPEN_MAX), 65536L);
    const pid_t pid = fork();
    if (pid == 0) {
        // Killed should the simulator's main thread end without stopping it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        if (null >= 0)
            dup2(null, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        // None of the simulator's sockets may live on in the tool.
        if (close_range(3, ~0U, 0) != 0) // kernels before 5.9
            for (int fd = 3; fd < openMax; ++fd)
                close(fd);
        // The simulator blocks SIGTERM and SIGINT and ignores SIGPIPE; the
        // tool must not inherit that.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &dfl, nullptr);
        execve(argv[0], argv.data(), envp.data());
        static const char kFailed[] = "cannot be executed\n";
        (void)!write(2, kFailed, sizeof kFailed - 1);
        _exit(127);
    }
    const int forkErrno = errno;
    close(out[1]);
    if (null >= 0)
        close(null);
    if (pid < 0) {
        close(out[0]);
        error = std::string("cannot start ") + kTool + ": " + std::strerror(forkErrno);
        return false;
    }
    child.pid = pid;
    child.output = out[0];
    return true;
}

} // namespace

struct DnssdPublisher::State {
    std::vector<Child> children;
    int wake[2] = {-1, -1}; // a byte on wake[1] ends the reader
    std::thread reader;
    Report report;
    bool reported = false;

    void Tell(const std::string& line) {
        if (!reported && report)
            report(line);
        reported = true;
    }

    void OnLine(Child& child, const std::string& line) {
        if (line.rfind("Established under name", 0) == 0) {
            child.established = true;
            bool all = true;
            for (const Child& c : children)
                all = all && c.established;
            if (all)
                Tell("dnssd published");
        } else if (line.find("collision") != std::string::npos ||
                   line.find("conflict") != std::string::npos) {
            Tell(std::string("dnssd failed: name collision (") + kTool + " " + child.record + ": " +
                 line + ")");
        } else if (!line.empty()) {
            child.lastLine = line;
        }
    }

    // The child has closed its output: it is ending, so it is reaped here.
    void OnEnd(Child& child) {
        close(child.output);
        child.output = -1;
        int status = 0;
        while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
        }
        child.pid = -1;
        std::string why = child.lastLine;
        if (why.empty())
            why = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                    : "signal " + std::to_string(WTERMSIG(status));
        Tell(std::string("dnssd failed: ") + kTool + " " + child.record + " ended: " + why);
    }

    void Read() {
        for (;;) {
            std::vector<pollfd> fds = {{wake[0], POLLIN, 0}};
            std::vector<Child*> reading;
            for (Child& child : children)
                if (child.output >= 0) {
                    fds.push_back({child.output, POLLIN, 0});
                    reading.push_back(&child);
                }
            if (reading.empty())
                return;
            if (poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[0].revents != 0)
                return;
            for (std::size_t i = 0; i < reading.size(); ++i) {
                if (fds[i + 1].revents == 0)
                    continue;
                Child& child = *reading[i];
                char buffer[512];
                const ssize_t n = read(child.output, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    OnEnd(child);
                    continue;
                }
                child.pending.append(buffer, static_cast<std::size_t>(n));
                for (std::size_t end; (end = child.pending.find('\n')) != std::string::npos;) {
                    const std::string line = child.pending.substr(0, end);
                    child.pending.erase(0, end + 1);
                    OnLine(child, line);
                }
            }
        }
    }

    ~State() {
        if (reader.joinable()) {
            (void)!write(wake[1], "x", 1);
            reader.join();
        }
        // The tools withdraw their records on SIGTERM; one that does not end
        // within a second is killed. Every child is reaped.
        for (Child& child : children)
            if (child.pid > 0)
                kill(child.pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (Child& child : children) {
            while (child.pid > 0) {
                int status = 0;
                const pid_t r = waitpid(child.pid, &status, WNOHANG);
                if (r == child.pid || (r < 0 && errno != EINTR)) {
                    child.pid = -1;
                } else if (std::chrono::steady_clock::now() >= deadline) {
                    kill(child.pid, SIGKILL);
                    waitpid(child.pid, &status, 0);
                    child.pid = -1;
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            if (child.output >= 0)
                close(child.output);
        }
        for (int fd : wake)
            if (fd >= 0)
                close(fd);
    }
};

DnssdPublisher::DnssdPublisher() = default;

DnssdPublisher::~DnssdPublisher() = default;

bool DnssdPublisher::Start(const std::string& instanceName, const std::string& address,
                           std::vector<DnssdService> services, Report report, std::string& error) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    const std::string tool = FindTool();
    if (tool.empty()) {
        error = std::string(kTool) + " not found on PATH (Debian package avahi-utils)";
        return false;
    }
    m_state = std::make_unique<State>();
    State& s = *m_state;
    s.report = std::move(report);
    if (pipe2(s.wake, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    const std::string hostName = "quarvel-sim-" + std::to_string(getpid()) + ".local";
    const std::vector<std::string> env = ChildEnvironment();
    // The host record leaves out the reverse (PTR) name (-R): the address is
    // the machine's own loopback, which other records may name too.
    std::vector<std::pair<std::string, std::vector<std::string>>> records = {
        {"address", {"-a", "-R", hostName, address}}};
    for (const DnssdService& service : services)
        records.push_back(
            {service.type,
             {"-s", "-H", hostName, instanceName, service.type, std::to_string(service.port)}});
    for (auto& [record, args] : records) {
        Child child;
        child.record = record;
        if (!Spawn(tool, std::move(args), env, child, error))
            return false; // the children started so far end with m_state
        s.children.push_back(std::move(child));
    }
    s.reader = std::thread([&s] { s.Read(); });
    return true;
}

} // namespace quarvel::sim
