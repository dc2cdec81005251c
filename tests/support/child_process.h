#pragma once

// The daemons and simulators the tests run as child processes: started with
// their output in a log file, waited for, and ended.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarvel::test {

// Runs args[0] with `args`, its standard output and error appended to `log`,
// with the "NAME=value" settings of `env` added to its environment.
inline pid_t SpawnLogged(const std::vector<std::string>& args, const std::string& log,
                         const std::vector<std::string>& env = {}) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        close(fd);
    }
    for (const std::string& setting : env)
        putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Waits (at most 10 s) until ready(); false when the time passed or the
// process ended first (then reaped, pid -1).
template <typename Ready> bool WaitForChild(pid_t& pid, Ready&& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready())
            return true;
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// SIGTERM, and SIGKILL when the process has not ended within 3 s; pid -1.
inline void StopChild(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300 && waitpid(pid, &status, WNOHANG) != pid; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid, &status, WNOHANG) == 0) { // not yet reaped: still the child's number
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

} // namespace quarvel::test
