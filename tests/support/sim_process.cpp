#include "tests/support/sim_process.h"
#include "tests/support/child_process.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quarvel::test {
namespace {

// The rest of the complete line that starts with the keyword; a line still
// being written does not count, so no port is read from half its digits.
std::string WordOfLine(const std::string& output, const std::string& keyword) {
    const std::size_t start = ("\n" + output).find("\n" + keyword + " ");
    const std::size_t end = output.find('\n', start);
    if (start == std::string::npos || end == std::string::npos)
        return {};
    return output.substr(start + keyword.size() + 1, end - start - keyword.size() - 1);
}

// The port at the end of the line that starts with the keyword ("socket
// 127.0.0.1:5025"); 0 while there is none.
int PortOfLine(const std::string& output, const std::string& keyword) {
    const std::string rest = WordOfLine(output, keyword);
    const auto colon = rest.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(rest.c_str() + colon + 1);
}

} // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUARVEL_SIM_PATH, "--transcript",
                                     m_dir.File("transcript.txt")};
    for (const char* link : {"--socket-port", "--portmapper-port", "--hislip-port", "--usbip-port"})
        argv.insert(argv.end(), {link, "0"});
    argv.insert(argv.end(), args.begin(), args.end());
    m_pid = SpawnLogged(argv, m_dir.File("output.txt"));
    const bool started = WaitForChild(m_pid, [this] {
        const std::string out = Output();
        m_socketPort = PortOfLine(out, "socket");
        m_vxi11Port = PortOfLine(out, "vxi11");
        m_portmapperPort = PortOfLine(out, "portmapper");
        m_hislipPort = PortOfLine(out, "hislip");
        m_usbipPort = PortOfLine(out, "usbip");
        m_usbResource = WordOfLine(out, "usb");
        return m_socketPort && m_vxi11Port && m_portmapperPort && m_usbipPort &&
               !m_usbResource.empty();
    });
    if (!started)
        m_socketPort = 0;
}

SimProcess::~SimProcess() {
    StopChild(m_pid);
}

std::vector<ChildProcess> ChildProcessesOf(pid_t parent) {
    std::vector<ChildProcess> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        if (entry.path().filename().string().find_first_not_of("0123456789") != std::string::npos)
            continue; // not a process
        // "pid (command) state ppid ...": the command may hold spaces and
        // parentheses, so the fields after it are found from the last ')'.
        const std::string stat = ReadFileText((entry.path() / "stat").string());
        const std::size_t open = stat.find('(');
        const std::size_t close = stat.rfind(')');
        char state = '?';
        long ppid = 0;
        if (close == std::string::npos || close < open ||
            std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &ppid) != 2 || ppid != parent)
            continue;
        children.push_back({static_cast<pid_t>(std::atol(stat.c_str())),
                            stat.substr(open + 1, close - open - 1), state});
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
    std::istringstream in(ReadFileText(m_dir.File("transcript.txt")));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

void SimProcess::ClearTranscript() const {
    // The simulator appends with O_APPEND, so truncating in place is safe.
    std::ofstream(m_dir.File("transcript.txt"), std::ios::trunc);
}

std::string SimProcess::Output() const {
    return ReadFileText(m_dir.File("output.txt"));
}

bool SimProcess::WaitForLine(const std::string& prefix) const {
    for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (("\n" + Output()).find("\n" + prefix) != std::string::npos)
            return true;
    return false;
}

std::string OwnLoopbackNet() {
    const unsigned pid = static_cast<unsigned>(getpid());
    return "127." + std::to_string(1 + (pid >> 8) % 250) + "." + std::to_string(pid & 0xFF) + ".";
}

} // namespace quarvel::test
