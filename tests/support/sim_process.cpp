#include "tests/support/sim_process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quarvel::test {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The rest of the complete line that starts with the keyword.
std::string WordOfLine(const std::string& output, const std::string& keyword) {
    const std::string prefix = keyword + " ";
    for (std::size_t start = 0; start < output.size();) {
        const std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            break;
        if (output.compare(start, prefix.size(), prefix) == 0)
            return output.substr(start + prefix.size(), end - start - prefix.size());
        start = end + 1;
    }
    return {};
}

// The port at the end of the complete line that starts with the keyword
// ("socket 127.0.0.1:5025"); 0 while there is none. A line still being
// written does not count, so no port is read from half its digits.
int PortOfLine(const std::string& output, const std::string& keyword) {
    const std::string rest = WordOfLine(output, keyword);
    const auto colon = rest.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(rest.c_str() + colon + 1);
}

} // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarvel-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_dir = pattern;
    m_transcriptPath = m_dir + "/transcript.txt";
    m_outputPath = m_dir + "/output.txt";

    std::vector<std::string> argv = {QUARVEL_SIM_PATH, "--transcript", m_transcriptPath};
    for (const char* link : {"--socket-port", "--portmapper-port", "--hislip-port", "--usbip-port"})
        argv.insert(argv.end(), {link, "0"});
    argv.insert(argv.end(), args.begin(), args.end());

    m_pid = fork();
    if (m_pid == 0) {
        const int fd = open(m_outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    if (m_pid < 0)
        return;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string out = ReadAll(m_outputPath);
        m_socketPort = PortOfLine(out, "socket");
        m_vxi11Port = PortOfLine(out, "vxi11");
        m_portmapperPort = PortOfLine(out, "portmapper");
        m_hislipPort = PortOfLine(out, "hislip");
        m_usbipPort = PortOfLine(out, "usbip");
        m_usbResource = WordOfLine(out, "usb");
        if (m_socketPort && m_vxi11Port && m_portmapperPort && m_usbipPort &&
            !m_usbResource.empty())
            return;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_socketPort = 0;
}

SimProcess::~SimProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::vector<ChildProcess> ChildProcessesOf(pid_t parent) {
    std::vector<ChildProcess> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        if (!std::getline(in, stat))
            continue;
        // "pid (command) state ppid ...": the command may hold spaces and
        // parentheses, so the fields after it are found from the last ')'.
        const std::size_t open = stat.find('(');
        const std::size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = '?';
        long ppid = 0;
        if (!(rest >> state >> ppid) || ppid != parent)
            continue;
        children.push_back(
            {static_cast<pid_t>(std::stol(name)), stat.substr(open + 1, close - open - 1), state});
    }
    return children;
}

std::string SimProcess::SocketResource() const {
    return "TCPIP0::127.0.0.1::" + std::to_string(m_socketPort) + "::SOCKET";
}

std::string SimProcess::Vxi11Resource() const {
    return "TCPIP0::127.0.0.1::inst0::INSTR";
}

std::string SimProcess::HislipResource() const {
    return "TCPIP0::127.0.0.1::hislip0," + std::to_string(m_hislipPort) + "::INSTR";
}

std::string SimProcess::UsbipServer() const {
    return "127.0.0.1:" + std::to_string(m_usbipPort);
}

std::vector<std::string> SimProcess::Transcript() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadAll(m_transcriptPath));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

void SimProcess::ClearTranscript() const {
    // The simulator appends with O_APPEND, so truncating in place is safe.
    std::ofstream(m_transcriptPath, std::ios::trunc);
}

std::string SimProcess::Output() const {
    return ReadAll(m_outputPath);
}

bool SimProcess::WaitForLine(const std::string& prefix) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        const std::string out = "\n" + ReadAll(m_outputPath);
        if (out.find("\n" + prefix) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string OwnLoopbackNet() {
    const unsigned pid = static_cast<unsigned>(getpid());
    return "127." + std::to_string(1 + (pid >> 8) % 250) + "." + std::to_string(pid & 0xFF) + ".";
}

} // namespace quarvel::test
