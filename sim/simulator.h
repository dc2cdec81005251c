#pragma once

// One running simulator: the instrument and its servers, as quarvel-sim
// runs them. Tests may run it in-process too.

#include "sim/hislip_server.h"
#include "sim/net.h"
#include "sim/pcap_recorder.h"
#include "sim/sim_instrument.h"
#include "sim/sim_options.h"
#include "sim/socket_server.h"
#include "sim/transcript.h"
#include "sim/usbip_server.h"
#include "sim/vxi11_server.h"

#include <memory>
#include <string>
#include <vector>

namespace quarvel::sim {

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Creates the instrument and binds every endpoint; false with a message.
    bool Start(std::string& error);
    // "socket 127.0.0.1:5025", "vxi11 127.0.0.1:40123", "portmapper 127.0.0.1:111",
    // "hislip 127.0.0.1:4880", "usbip 127.0.0.1:3240",
    // "usb USB0::0x1AB1::0x04CE::DS1ZA000000001::INSTR".
    std::vector<std::string> EndpointLines() const;
    void Stop();

    SimInstrument& Instrument() { return *m_instrument; }
    std::uint16_t SocketPort() const;
    std::uint16_t Vxi11Port() const;
    std::uint16_t PortmapperPort() const;
    std::uint16_t HislipPort() const;
    std::uint16_t UsbipPort() const;

private:
    SimOptions m_options;
    StopSignal m_stop;
    Transcript m_transcript;
    std::unique_ptr<PcapRecording> m_pcap;
    std::unique_ptr<SimInstrument> m_instrument;
    std::unique_ptr<SocketServer> m_socket;
    std::unique_ptr<Vxi11Server> m_vxi11;
    std::unique_ptr<HislipServer> m_hislip;
    std::unique_ptr<UsbipServer> m_usbip;
};

} // namespace quarvel::sim
