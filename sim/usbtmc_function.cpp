#include "sim/usbtmc_function.h"

#include <algorithm>

namespace quarvel::sim {

namespace tmc = visa::usbtmc;

namespace {

// A bulk-OUT transfer larger than this is refused (stalled).
constexpr std::uint32_t kMaxOutTransfer = 16u * 1024u * 1024u;

} // namespace

UsbtmcFunction::UsbtmcFunction(SimInstrument& instrument, Transcript* transcript,
                               const FaultOptions& faults, const UsbOptions& options,
                               std::uint16_t packetSize, std::uint8_t interfaceNumber)
    : m_session(instrument, transcript, faults), m_options(options),
      m_packetSize(options.inPacketSize > 0
                       ? std::min<std::size_t>(options.inPacketSize, packetSize)
                       : packetSize),
      m_endpointPacketSize(packetSize), m_interface(interfaceNumber) {}

bool UsbtmcFunction::BulkOut(tmc::ByteView data) {
    m_outBuffer.insert(m_outBuffer.end(), data.begin(), data.end());
    while (m_outBuffer.size() >= tmc::kHeaderSize) {
        tmc::BulkOutHeader header;
        if (!tmc::DecodeBulkOutHeader(m_outBuffer, header) ||
            header.transferSize > kMaxOutTransfer) {
            m_outBuffer.clear();
            return false;
        }
        const bool carriesData =
            header.msgId == tmc::kDevDepMsgOut || header.msgId == tmc::kVendorSpecificOut;
        const std::size_t whole = tmc::kHeaderSize + (carriesData ? header.transferSize : 0);
        if (m_outBuffer.size() < whole)
            return true; // the rest comes in the next transfer
        const std::string_view payload(reinterpret_cast<const char*>(m_outBuffer.data()) +
                                           tmc::kHeaderSize,
                                       whole - tmc::kHeaderSize);
        if (header.msgId == tmc::kDevDepMsgOut) {
            // A new command makes an unread reply stale (IEEE 488.2 query
            // interrupted): the device drops it.
            if (!m_midMessage)
                AbandonReplies();
            m_midMessage = !header.Eom();
            m_lastOutBytes = header.transferSize;
            const auto now = std::chrono::steady_clock::now();
            for (OutgoingReply& reply : m_session.Feed(payload, header.Eom()))
                m_replies.push_back(
                    {std::move(reply), now + std::chrono::milliseconds(reply.delayMs), 0, false});
        } else if (header.msgId == tmc::kRequestDevDepMsgIn) {
            // Firmware with a transfer limit takes a larger request and then
            // sends nothing: the host waits until it gives up and aborts.
            const std::uint32_t limit = m_options.maxTransferSize.value_or(0);
            m_request = {limit == 0 || header.transferSize <= limit, header.tag,
                         header.transferSize};
        }
        // Alignment bytes end the transfer; a host that sends none loses nothing.
        const std::size_t padded = std::min(tmc::PaddedSize(whole), m_outBuffer.size());
        m_outBuffer.erase(m_outBuffer.begin(),
                          m_outBuffer.begin() + static_cast<std::ptrdiff_t>(padded));
    }
    return true;
}

void UsbtmcFunction::AbandonReplies() {
    m_replies.clear();
    m_bulkIn.clear();
}

void UsbtmcFunction::QueuePackets(UsbBytes transfer) {
    // A transfer of whole packets ends with a zero-length packet, so that
    // the host knows it is complete; some firmware sends none.
    const bool zeroLengthPacket = transfer.size() % m_packetSize == 0 &&
                                  m_packetSize == m_endpointPacketSize &&
                                  !m_options.noZeroLengthPacket;
    m_bulkIn.push_back({std::move(transfer), 0, zeroLengthPacket});
}

void UsbtmcFunction::ProduceTransfer() {
    if (!m_request.pending || m_replies.empty() || m_dropLink)
        return;
    PendingReply& current = m_replies.front();
    if (std::chrono::steady_clock::now() < current.readyAt)
        return;
    const bool faulted = current.reply.faultTarget;
    // The stall fault: the device never answers; only an abort ends it.
    if (faulted && m_options.stallIn)
        return;
    const std::string& bytes = current.reply.bytes;
    // Firmware that sends more than the TransferSize asked for states the
    // real count in its header.
    std::size_t n = std::min<std::size_t>(std::size_t{m_request.size} + m_options.extraBytes,
                                          bytes.size() - current.sent);
    if (m_options.splitTransfers > 0)
        n = std::min(n, m_options.splitTransfers);
    const std::size_t dropAfter = current.reply.dropAfter;
    if (dropAfter != std::string::npos && current.sent + n > dropAfter) {
        // The link-drop fault: the connection goes down halfway through.
        m_dropLink = true;
        return;
    }
    if (!current.started && m_options.emptyFirstTransfer)
        QueueEmptyPacket();
    current.started = true;
    const bool eom = current.sent + n == bytes.size();
    std::uint8_t tag = m_request.tag;
    if (faulted && m_options.wrongTag)
        tag = tmc::NextTag(tag);
    // Header, data and alignment bytes; the data is written once, not
    // zeroed first.
    UsbBytes transfer(tmc::kHeaderSize);
    transfer.reserve(tmc::kHeaderSize + tmc::PaddedSize(n));
    tmc::EncodeDevDepMsgIn(tag, static_cast<std::uint32_t>(n), eom, false, transfer.data());
    const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(current.sent);
    transfer.insert(transfer.end(), from, from + static_cast<std::ptrdiff_t>(n));
    transfer.resize(tmc::kHeaderSize + tmc::PaddedSize(n), 0);
    current.sent += n;
    if (eom)
        m_replies.pop_front();
    m_request.pending = false;
    QueuePackets(std::move(transfer));
}

bool UsbtmcFunction::PeekBulkIn(UsbBytes& packet) {
    if (m_bulkIn.empty())
        ProduceTransfer();
    if (m_bulkIn.empty())
        return false;
    const InTransfer& front = m_bulkIn.front();
    const std::size_t n = std::min<std::size_t>(m_packetSize, front.bytes.size() - front.pos);
    const auto from = front.bytes.begin() + static_cast<std::ptrdiff_t>(front.pos);
    packet.assign(from, from + static_cast<std::ptrdiff_t>(n));
    return true;
}

void UsbtmcFunction::PopBulkIn() {
    if (m_bulkIn.empty())
        return;
    InTransfer& front = m_bulkIn.front();
    if (front.pos < front.bytes.size()) {
        front.pos += std::min<std::size_t>(m_packetSize, front.bytes.size() - front.pos);
        if (front.pos < front.bytes.size() || front.zeroLengthPacket)
            return;
    }
    m_bulkIn.pop_front();
}

bool UsbtmcFunction::PeekInterrupt(UsbBytes& packet) {
    if (m_interrupt.empty())
        return false;
    packet = m_interrupt.front();
    return true;
}

std::chrono::steady_clock::time_point UsbtmcFunction::NextReadyTime() const {
    if (!m_request.pending || m_replies.empty() || !m_bulkIn.empty())
        return std::chrono::steady_clock::time_point::max();
    return m_replies.front().readyAt;
}

bool UsbtmcFunction::ClassRequest(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                  UsbBytes& reply) {
    const bool inProgress = m_request.pending || !m_bulkIn.empty() || !m_replies.empty();
    switch (request) {
    case tmc::kGetCapabilities: {
        tmc::Capabilities caps;
        caps.interfaceCapabilities = 0x04; // indicator pulse
        caps.bcdUsb488 = 0x0100;
        caps.usb488InterfaceCapabilities = 0x06; // IEEE 488.2, REN_CONTROL & co.
        caps.usb488DeviceCapabilities = 0x0F;    // SCPI, SR1, RL1, DT1
        reply = tmc::EncodeCapabilities(caps);
        return true;
    }
    case tmc::kInitiateAbortBulkIn:
        reply = {inProgress ? tmc::kStatusSuccess : tmc::kStatusFailed,
                 static_cast<std::uint8_t>(value)};
        if (inProgress) {
            m_request.pending = false;
            AbandonReplies();
            QueueEmptyPacket(); // the short packet that ends the aborted transfer
        }
        return true;
    case tmc::kCheckAbortBulkInStatus:
        reply = tmc::EncodeAbortStatus({tmc::kStatusSuccess, false, 0});
        return true;
    case tmc::kInitiateAbortBulkOut:
        reply = {tmc::kStatusSuccess, static_cast<std::uint8_t>(value)};
        m_outBuffer.clear();
        m_midMessage = false;
        m_session.Clear();
        return true;
    case tmc::kCheckAbortBulkOutStatus:
        reply = tmc::EncodeAbortStatus({tmc::kStatusSuccess, false, m_lastOutBytes});
        return true;
    case tmc::kInitiateClear:
        if (index != m_interface)
            return false;
        m_outBuffer.clear();
        m_midMessage = false;
        m_request.pending = false;
        m_session.Clear();
        AbandonReplies();
        reply = {tmc::kStatusSuccess};
        return true;
    case tmc::kCheckClearStatus:
        reply = {tmc::kStatusSuccess, 0};
        return true;
    case tmc::kIndicatorPulse:
    case tmc::kRenControl:
    case tmc::kGoToLocal:
    case tmc::kLocalLockout:
        reply = {tmc::kStatusSuccess};
        return true;
    case tmc::kReadStatusByte: {
        // USB488 gives the request a bTag of 2..127.
        if (value < 2 || value > 127)
            return false;
        const std::uint8_t tag = static_cast<std::uint8_t>(value);
        const std::uint8_t stb =
            m_session.Instrument().StatusByte(!m_replies.empty() || !m_bulkIn.empty());
        if (m_options.noInterruptEndpoint) {
            reply = tmc::EncodeStatusByteReply({tmc::kStatusSuccess, tag, stb});
            return true;
        }
        // With an interrupt endpoint the status byte travels there.
        reply = tmc::EncodeStatusByteReply({tmc::kStatusSuccess, tag, 0});
        m_interrupt.push_back(tmc::EncodeStatusByteNotification(tag, stb));
        return true;
    }
    default:
        return false;
    }
}

} // namespace quarvel::sim
