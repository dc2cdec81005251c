#pragma once

// quarvel-sim as a child process for a benchmark run: started with the
// caller's options, its endpoint lines read from its standard output, ended
// with SIGTERM when the object goes.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quarvel::bench {

class BenchSim {
public:
    // Starts quarvel-sim with `args` and reads its lines until the port of
    // every endpoint in `endpoints` ("socket", "portmapper", "hislip") is known.
    BenchSim(const std::vector<std::string>& args, const std::vector<std::string>& endpoints) {
        int out[2];
        if (pipe(out) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            setenv("QT_QPA_PLATFORM", "offscreen", 0);
            std::vector<char*> argv = {const_cast<char*>(QUARVEL_SIM_PATH)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(QUARVEL_SIM_PATH, argv.data());
            _exit(127);
        }
        close(out[1]);
        m_lines = fdopen(out[0], "r");
        char line[256];
        while (!Knows(endpoints) && m_lines != nullptr &&
               std::fgets(line, sizeof line, m_lines) != nullptr) {
            const char* space = std::strchr(line, ' ');
            const char* colon = std::strrchr(line, ':');
            if (space != nullptr && colon != nullptr)
                m_ports[std::string(line, static_cast<std::size_t>(space - line))] =
                    std::atoi(colon + 1);
        }
    }
    ~BenchSim() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        // Kept open until now: the simulator may write more lines.
        if (m_lines != nullptr)
            std::fclose(m_lines);
    }
    BenchSim(const BenchSim&) = delete;
    BenchSim& operator=(const BenchSim&) = delete;

    // Port of the endpoint line "<name> 127.0.0.1:<port>"; 0 when none came.
    int Port(const std::string& endpoint) const {
        const auto it = m_ports.find(endpoint);
        return it == m_ports.end() ? 0 : it->second;
    }
    // The simulator's process id (-1 when it did not start).
    pid_t Pid() const { return m_pid; }
    // "TCPIP0::127.0.0.1::<port>::SOCKET"; empty without a socket endpoint.
    std::string SocketResource() const {
        return Port("socket") == 0
                   ? std::string()
                   : "TCPIP0::127.0.0.1::" + std::to_string(Port("socket")) + "::SOCKET";
    }

private:
    bool Knows(const std::vector<std::string>& endpoints) const {
        for (const std::string& name : endpoints)
            if (Port(name) == 0)
                return false;
        return true;
    }

    pid_t m_pid = -1;
    std::FILE* m_lines = nullptr;
    std::map<std::string, int> m_ports;
};

} // namespace quarvel::bench
