#include "sim/simulator.h"

#include "sim/family_registry.h"
#include "sim/replay_instrument.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace quarvel::sim {

namespace {

struct RecordedUsb {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serialNumber;
};

// The device a log recorded over USB names in its resource string,
// "USB0::0x1AB1::0x04CE::DS1ZA000000001[::0]::INSTR": vendor and product
// IDs (hexadecimal with 0x, or decimal) and the serial number.
std::optional<RecordedUsb> RecordedUsbDevice(const std::string& resource) {
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const std::size_t end = resource.find("::", start);
        fields.push_back(resource.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    if (fields.size() < 4 || !fields[0].starts_with("USB"))
        return std::nullopt;
    const auto number = [](const std::string& text, std::uint16_t& value) {
        const bool hex = text.starts_with("0x") || text.starts_with("0X");
        const char* first = text.data() + (hex ? 2 : 0);
        const char* last = text.data() + text.size();
        const auto [end, ec] = std::from_chars(first, last, value, hex ? 16 : 10);
        return ec == std::errc() && end == last && first != last;
    };
    RecordedUsb device;
    if (!number(fields[1], device.vendorId) || !number(fields[2], device.productId) ||
        fields[3].empty())
        return std::nullopt;
    device.serialNumber = fields[3];
    return device;
}

} // namespace

Simulator::Simulator(SimOptions options) : m_options(std::move(options)) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string& error) {
    if (!m_options.transcriptPath.empty() && !m_transcript.Open(m_options.transcriptPath)) {
        error = m_options.transcriptPath + ": " + std::strerror(errno);
        return false;
    }
    std::string replayUsbResource;
    if (!m_options.replayPath.empty()) {
        ReplayScript script;
        if (!LoadReplayScript(m_options.replayPath, script, error))
            return false;
        replayUsbResource = script.usbResource;
        m_instrument =
            std::make_unique<ReplayInstrument>(std::move(script), m_options.replaySpeed,
                                               m_transcript.IsOpen() ? &m_transcript : nullptr);
    } else {
        m_instrument = CreateInstrument(m_options.instrument, SetupFor(m_options));
    }
    if (!m_instrument) {
        error = "unknown instrument: " + m_options.instrument;
        return false;
    }
    m_instrument->SetImageDumpDirectory(m_options.dumpImagesDir);
    m_instrument->SetFaultFilter(m_options.faultOn);
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
        UsbIdentity identity =
            UsbIdentityFor(m_options.instrument, m_instrument->Idn(), usb.fullSpeed);
        // A log recorded over USB is replayed as the same device.
        if (const auto recorded = RecordedUsbDevice(replayUsbResource)) {
            identity.vendorId = recorded->vendorId;
            identity.productId = recorded->productId;
            identity.serialNumber = recorded->serialNumber;
        }
        m_usbip = std::make_unique<UsbipServer>(*m_instrument, transcript, m_options.faults, usb,
                                                identity, m_stop);
        if (!m_usbip->Start(m_options.address, m_options.usbipPort, error)) {
            error = "usbip: " + error;
            return false;
        }
    }
    return true;
}

std::vector<std::string> Simulator::EndpointLines() const {
    std::vector<std::string> lines;
    // An IPv6 address in brackets, so that the port stands apart.
    const std::string a = m_options.address.find(':') == std::string::npos
                              ? m_options.address
                              : "[" + m_options.address + "]";
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
