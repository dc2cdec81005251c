#pragma once

// The device side of USBTMC/USB488: bulk-OUT messages cut into program
// messages for the instrument's session, replies handed out in the
// transfers that REQUEST_DEV_DEP_MSG_IN asks for, and the class requests
// (capabilities, aborts, clear, status byte, remote/local). The USB faults
// of the simulator act here.

#include "codec/usbtmc_message.h"
#include "sim/faults.h"
#include "sim/session.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace quarvel::sim {

using UsbBytes = std::vector<std::uint8_t>;

// USB options and faults of quarvel-sim (all off by default).
struct UsbOptions {
    bool fullSpeed = false;           // 64-byte bulk packets instead of 512
    bool stallIn = false;             // fault: a faulted reply is never sent (bulk-IN NAKs)
    bool wrongTag = false;            // fault: a faulted reply carries a wrong bTag
    std::size_t splitTransfers = 0;   // fault: at most N data bytes a transfer, EOM on the last
    bool noZeroLengthPacket = false;  // quirk: no short packet after a transfer of whole packets
    bool emptyFirstTransfer = false;  // quirk: an empty transfer before each reply
    bool noInterruptEndpoint = false; // no interrupt-IN: the status byte in the control reply
    // quirk: a REQUEST_DEV_DEP_MSG_IN for more bytes than this is never
    // answered (unset: the family's firmware limit; 0: none)
    std::optional<std::uint32_t> maxTransferSize;
    std::size_t extraBytes = 0; // quirk: transfers carry up to N bytes more than asked for
    // quirk: bulk-IN packets of N bytes although the endpoint says 512 (0:
    // the endpoint's size). Each is a short packet, which ends the host's
    // transfer long before the header's TransferSize: a DS1054Z's 55-byte
    // *IDN? reply comes as a 64-byte packet and a 4-byte one (linux-usbtmc
    // issue 8; the "52-byte chunks" workarounds in PyVISA and pyvisa-py
    // reports).
    std::size_t inPacketSize = 0;
    // The USB/IP server as a real usbipd behaves: one importer at a time,
    // others refused with ST_DEV_BUSY (by default each import gets its own
    // device, so a listing never finds it busy) ...
    bool exclusiveImport = false;
    // ... and, after an importer leaves (usbip-host resets the device),
    // imports refused with ST_NA for this long.
    std::chrono::milliseconds importGap{0};
};

class UsbtmcFunction {
public:
    UsbtmcFunction(SimInstrument& instrument, Transcript* transcript, const FaultOptions& faults,
                   const UsbOptions& options, std::uint16_t packetSize,
                   std::uint8_t interfaceNumber);

    // One bulk-OUT transfer; false when the endpoint stalls (a malformed header).
    bool BulkOut(visa::usbtmc::ByteView data);
    // A class request to the interface or an endpoint; false to stall it.
    bool ClassRequest(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                      UsbBytes& reply);

    // The next packet of the bulk-IN or interrupt-IN pipe; false when the
    // device has nothing to send now (the host's IN token is NAKed).
    bool PeekBulkIn(UsbBytes& packet);
    void PopBulkIn();
    bool PeekInterrupt(UsbBytes& packet);
    void PopInterrupt() { m_interrupt.pop_front(); }

    // A delayed reply becomes ready at this time (max() when none waits).
    std::chrono::steady_clock::time_point NextReadyTime() const;
    // The link-drop fault fired: the server must close the connection.
    bool LinkDropped() const { return m_dropLink; }

private:
    struct Request {
        bool pending = false;
        std::uint8_t tag = 0;
        std::uint32_t size = 0;
    };
    struct PendingReply {
        OutgoingReply reply;
        std::chrono::steady_clock::time_point readyAt;
        std::size_t sent = 0;
        bool started = false;
    };

    // A transfer waiting on the bulk-IN pipe, handed out packet by packet
    // from where it is (no copy per packet). Its packets are the slices of
    // m_packetSize bytes from pos on, then a zero-length one when
    // zeroLengthPacket says so; an empty transfer is one zero-length packet.
    struct InTransfer {
        UsbBytes bytes;
        std::size_t pos = 0;
        bool zeroLengthPacket = false;
    };

    void ProduceTransfer();
    void AbandonReplies();
    void QueuePackets(UsbBytes transfer);
    void QueueEmptyPacket() { m_bulkIn.push_back({{}, 0, true}); }

    Session m_session;
    UsbOptions m_options;
    // The packets the device sends, and the endpoint's wMaxPacketSize: a
    // zero-length packet follows a transfer of whole packets only when
    // they are of the endpoint's size (a smaller packet ends it anyway).
    std::size_t m_packetSize;
    std::size_t m_endpointPacketSize;
    std::uint8_t m_interface;
    UsbBytes m_outBuffer;
    bool m_midMessage = false;
    Request m_request;
    std::deque<PendingReply> m_replies;
    std::deque<InTransfer> m_bulkIn;
    std::deque<UsbBytes> m_interrupt;
    bool m_dropLink = false;
    std::uint32_t m_lastOutBytes = 0;
};

} // namespace quarvel::sim
