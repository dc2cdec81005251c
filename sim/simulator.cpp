#include "sim/simulator.h"

#include "sim/family_registry.h"

#include <cerrno>
#include <cstring>

namespace quarvel::sim {

Simulator::Simulator(SimOptions options) : m_options(std::move(options)) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string& error) {
    m_instrument = CreateInstrument(m_options.instrument, SetupFor(m_options));
    if (!m_instrument) {
        error = "unknown instrument: " + m_options.instrument;
        return false;
    }
    m_instrument->SetImageDumpDirectory(m_options.dumpImagesDir);
    m_instrument->SetFaultFilter(m_options.faultOn);
    if (!m_options.transcriptPath.empty() && !m_transcript.Open(m_options.transcriptPath)) {
        error = m_options.transcriptPath + ": " + std::strerror(errno);
        return false;
    }
    if (!m_options.pcapPath.empty() &&
        !(m_pcap = PcapRecording::Start(m_options.pcapPath, error))) {
        error = "pcap: " + error;
        return false;
    }
    Transcript* transcript = m_transcript.IsOpen() ? &m_transcript : nullptr;
    m_socket = std::make_unique<SocketServer>(*m_instrument, transcript, m_options.faults, m_stop);
    if (!m_socket->Start(m_options.address, m_options.socketPort, error)) {
        error = "socket: " + error;
        return false;
    }
    m_vxi11 = std::make_unique<Vxi11Server>(*m_instrument, transcript, m_options.faults, m_stop);
    if (!m_vxi11->StartCore(m_options.address, error)) {
        error = "vxi11: " + error;
        return false;
    }
    if (m_options.portmapper &&
        !m_vxi11->StartPortmapper(m_options.address, m_options.portmapperPort, error)) {
        error = "portmapper: " + error + " (try --portmapper-port 0 or none)";
        return false;
    }
    if (m_options.hislip) {
        m_hislip =
            std::make_unique<HislipServer>(*m_instrument, transcript, m_options.faults, m_stop);
        if (!m_hislip->Start(m_options.address, m_options.hislipPort, error)) {
            error = "hislip: " + error + " (try --hislip-port 0 or none)";
            return false;
        }
    }
    if (m_options.usbip) {
        UsbOptions usb = m_options.usb;
        if (const FamilyInfo* family = FindFamily(m_options.instrument);
            family && !usb.maxTransferSize)
            usb.maxTransferSize = family->usbMaxTransfer;
        m_usbip = std::make_unique<UsbipServer>(
            *m_instrument, transcript, m_options.faults, usb,
            UsbIdentityFor(m_options.instrument, m_instrument->Idn(), usb.fullSpeed), m_stop);
        if (!m_usbip->Start(m_options.address, m_options.usbipPort, error)) {
            error = "usbip: " + error;
            return false;
        }
    }
    return true;
}

std::vector<std::string> Simulator::EndpointLines() const {
    std::vector<std::string> lines;
    const std::string& a = m_options.address;
    lines.push_back("socket " + a + ":" + std::to_string(SocketPort()));
    lines.push_back("vxi11 " + a + ":" + std::to_string(Vxi11Port()));
    if (m_options.portmapper)
        lines.push_back("portmapper " + a + ":" + std::to_string(PortmapperPort()));
    if (m_hislip)
        lines.push_back("hislip " + a + ":" + std::to_string(HislipPort()));
    if (m_usbip) {
        lines.push_back("usbip " + a + ":" + std::to_string(UsbipPort()));
        lines.push_back("usb " + m_usbip->ResourceName());
    }
    return lines;
}

void Simulator::Stop() {
    m_stop.Raise();
    if (m_socket)
        m_socket->Stop();
    if (m_vxi11)
        m_vxi11->Stop();
    if (m_hislip)
        m_hislip->Stop();
    if (m_usbip)
        m_usbip->Stop();
    // Every connection has ended: the recording is complete.
    m_pcap.reset();
}

std::uint16_t Simulator::SocketPort() const {
    return m_socket ? m_socket->Port() : 0;
}
std::uint16_t Simulator::Vxi11Port() const {
    return m_vxi11 ? m_vxi11->CorePort() : 0;
}
std::uint16_t Simulator::PortmapperPort() const {
    return m_vxi11 ? m_vxi11->PortmapperPort() : 0;
}
std::uint16_t Simulator::HislipPort() const {
    return m_hislip ? m_hislip->Port() : 0;
}

} // namespace quarvel::sim

namespace quarvel::sim {

std::uint16_t Simulator::UsbipPort() const {
    return m_usbip ? m_usbip->Port() : 0;
}

} // namespace quarvel::sim
