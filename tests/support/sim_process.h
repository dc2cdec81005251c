#pragma once

#include "tests/support/temp_dir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace quarvel::test {

// A process whose parent is the given one, as /proc shows it now.
struct ChildProcess {
    pid_t pid = 0;
    std::string command; // the name the kernel keeps ("avahi-publish")
    char state = '?';    // 'Z' for a zombie, not reaped by its parent
};
std::vector<ChildProcess> ChildProcessesOf(pid_t parent);

// Runs quarvel-sim as a child process on free loopback ports for one test.
//
// The simulator is started with "--socket-port 0 --portmapper-port 0
// --hislip-port 0 --usbip-port 0 --transcript <tmpfile>" plus the caller's
// arguments, and the constructor waits (at most 10 s) until it has printed its
// "socket", "vxi11", "portmapper", "usbip" and "usb" lines (and "hislip" with
// them). The process is killed when the object goes.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Started() const { return m_pid > 0 && m_socketPort != 0; }
    pid_t Pid() const { return m_pid; }
    int SocketPort() const { return m_socketPort; }
    int Vxi11Port() const { return m_vxi11Port; }
    int PortmapperPort() const { return m_portmapperPort; }
    int HislipPort() const { return m_hislipPort; }
    int UsbipPort() const { return m_usbipPort; }
    // "127.0.0.1:<port>", for QVI_ATTR_USBIP_SERVERS and --usbip.
    std::string UsbipServer() const;
    // The simulated USB device, e.g. "USB0::0x1AB1::0x04CE::DS1ZA000000001::INSTR";
    // the resource manager must be told UsbipServer().
    const std::string& UsbResource() const { return m_usbResource; }

    // "TCPIP0::127.0.0.1::<port>::SOCKET"
    std::string SocketResource() const;
    // "TCPIP0::127.0.0.1::inst0::INSTR"; the portmapper is on PortmapperPort(),
    // so the resource manager must be told that port (QVI_ATTR_PORTMAPPER_PORT).
    std::string Vxi11Resource() const;
    // "TCPIP0::127.0.0.1::hislip0,<port>::INSTR"
    std::string HislipResource() const;

    // Every command the simulator received so far, one per entry.
    std::vector<std::string> Transcript() const;
    // Forget what was received so far (truncates the transcript file).
    void ClearTranscript() const;

    // Everything the simulator printed on standard output and error so far.
    std::string Output() const;
    // Waits (at most 10 s) until the simulator has printed a line that starts
    // with prefix ("dnssd published"); false if it did not.
    bool WaitForLine(const std::string& prefix) const;

private:
    pid_t m_pid = -1;
    int m_socketPort = 0;
    int m_vxi11Port = 0;
    int m_portmapperPort = 0;
    int m_hislipPort = 0;
    int m_usbipPort = 0;
    std::string m_usbResource;
    TempDir m_dir; // the transcript and the simulator's output
};

// "127.a.b." with a and b from this process's id: loopback addresses of its
// own for simulators a search is to find, so that another test run's
// simulators on the machine never mix in.
std::string OwnLoopbackNet();

} // namespace quarvel::test
