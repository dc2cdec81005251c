#pragma once

// The USB/IP server: exports the simulated instrument as one USB device
// (bus ID "1-1") on the protocol of Linux's usbipd. OP_REQ_DEVLIST lists it;
// OP_REQ_IMPORT hands the connection over to URB traffic, served by a
// device model of its own (each import is a separate USB host's view of the
// one instrument, as each VXI-11 link is). IN transfers wait, as USB IN
// tokens are NAKed, until the device has data or the host unlinks them.

#include "sim/faults.h"
#include "sim/net.h"
#include "sim/sim_instrument.h"
#include "sim/tcp_listener.h"
#include "sim/transcript.h"
#include "sim/usb_device_model.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace quarvel::sim {

class UsbipServer {
public:
    UsbipServer(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults,
                const UsbOptions& options, UsbIdentity identity, const StopSignal& stop)
        : m_instrument(instrument), m_transcript(transcript), m_faults(faults), m_options(options),
          m_identity(std::move(identity)), m_stop(stop), m_listener(stop) {}
    ~UsbipServer() { Stop(); }
    UsbipServer(const UsbipServer&) = delete;
    UsbipServer& operator=(const UsbipServer&) = delete;

    bool Start(const std::string& address, std::uint16_t port, std::string& error);
    std::uint16_t Port() const { return m_listener.Port(); }
    // The VISA resource string that opens the exported device.
    std::string ResourceName() const;
    void Stop() { m_listener.Stop(); }

private:
    void Serve(int fd);
    void ServeUrbs(int fd);
    // The status an import request gets now (see UsbOptions); an accepted
    // one counts as an importer until ImportEnded.
    std::uint32_t AdmitImport();
    void ImportEnded();

    SimInstrument& m_instrument;
    Transcript* m_transcript;
    const FaultOptions& m_faults;
    const UsbOptions m_options;
    UsbIdentity m_identity;
    const StopSignal& m_stop;
    TcpListener m_listener;
    std::mutex m_importMutex;
    int m_importers = 0;
    std::chrono::steady_clock::time_point m_refuseUntil{};
};

} // namespace quarvel::sim
