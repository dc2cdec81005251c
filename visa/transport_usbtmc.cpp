// USBTMC/USB488 transport ("USB[board]::vendor::product::serial[::interface][::INSTR]"):
// the class's bulk message layer over a USB device reached through one of
// the host sides (a USB/IP server named by the resource manager or the
// QUARVEL_USBIP environment variable; libusb for devices on this machine).
//
// With a progress handler (see progress.h) transfers carry at most 64 KiB
// of data, and the wait for a bulk-IN transfer is cut into short slices so
// that the handler runs while the instrument is silent. A cancel while a
// transfer is under way aborts it with the class's INITIATE_ABORT_BULK_IN
// sequence; the rest of the reply is then dropped by the device when the
// next command arrives (IEEE 488.2: a new command interrupts the query).

#include "codec/usb_descriptors.h"
#include "codec/usbtmc_message.h"
#include "visa/builtin_transports.h"
#include "visa/progress.h"
#include "visa/usb_device.h"
#include "visa/usb_discovery.h"
#include "visa/usb_quirks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quarvel::visa {

namespace {

namespace tmc = quarvel::visa::usbtmc;
using usb::UsbResult;

// Recovery sequences (abort, clear) get this long of their own, after the
// call's deadline has passed.
constexpr auto kRecoveryTime = std::chrono::milliseconds(1500);
// A drain read during recovery waits this long for the device's last packet.
constexpr auto kDrainWait = std::chrono::milliseconds(100);
// The bytes a device may send beyond the TransferSize asked for (some
// firmware does) and still be believed.
constexpr std::uint32_t kMaxExtraBytes = 64 * 1024;
// Empty transfers in a row before the device counts as broken: a zero-length
// packet left over from an earlier transfer, or firmware that sometimes
// answers the first request with nothing.
constexpr int kMaxEmptyTransfers = 3;
// How long a bulk-IN wait without a progress handler runs before it looks
// whether another thread closed the session.
constexpr std::chrono::milliseconds kInterruptSlice{100};
// Interrupt-IN notifications read past while waiting for the status byte.
constexpr int kMaxOtherNotifications = 8;

bool Reporting(const SessionSettings& settings) {
    return settings.progress != nullptr && settings.progress->Active();
}

// Counts n bytes of the message that moved at once, a report at each 64 KiB
// they pass; VI_ERROR_ABORT once the handler has cancelled.
ViStatus CountMoved(ProgressMeter& progress, std::size_t n, bool sent) {
    do {
        const std::size_t piece = std::min(n, progress.PieceLimit());
        if (const ViStatus s = sent ? progress.Sent(piece) : progress.Received(piece);
            s != VI_SUCCESS)
            return s;
        n -= piece;
    } while (n > 0);
    return VI_SUCCESS;
}

class UsbtmcTransport final : public ITransport {
public:
    UsbtmcTransport(std::unique_ptr<usb::IUsbDevice> device, const UsbtmcIdentity& identity,
                    const tmc::Capabilities& capabilities, const usb::UsbQuirks& quirks)
        : m_device(std::move(device)), m_id(identity), m_capabilities(capabilities),
          m_quirks(quirks) {
        if (m_quirks.packetSize64)
            m_id.bulkInPacketSize = 64;
    }

    ViStatus Write(const std::uint8_t* data, std::size_t size, bool endOfMessage,
                   const SessionSettings& settings) override {
        if (m_lost)
            return VI_ERROR_CONN_LOST;
        // A new command: whatever is left of an earlier reply is stale (the
        // device drops its own rest, as IEEE 488.2 has it).
        m_begin = m_end = 0;
        const Deadline deadline = DeadlineAfter(settings.timeoutMs);
        const bool reporting = Reporting(settings);
        // A message is sent in transfers of at most this many data bytes.
        const std::size_t maxOutTransfer = reporting ? ProgressMeter::kMaxPiece : 1024 * 1024;
        std::size_t done = 0;
        do {
            const std::size_t n = std::min(size - done, maxOutTransfer);
            const bool last = done + n == size;
            m_out.assign(tmc::kHeaderSize + tmc::PaddedSize(n), 0);
            m_tag = tmc::NextTag(m_tag);
            tmc::EncodeDevDepMsgOut(m_tag, static_cast<std::uint32_t>(n), last && endOfMessage,
                                    m_out.data());
            if (n > 0)
                std::memcpy(m_out.data() + tmc::kHeaderSize, data + done, n);
            std::size_t sent = 0;
            const UsbResult r =
                m_device->Transfer(m_id.bulkOut, m_out.data(), m_out.size(), deadline, sent);
            if (r != UsbResult::Ok) {
                if (r == UsbResult::Timeout || r == UsbResult::Stall)
                    AbortBulkOut(m_tag);
                return Fail(r);
            }
            done += n;
            if (reporting && CountMoved(*settings.progress, n, true) != VI_SUCCESS) {
                // No transfer is under way for an abort to stop, but the
                // device holds the start of a message: a clear drops it.
                if (done < size || !endOfMessage)
                    Clear(settings);
                return VI_ERROR_ABORT;
            }
        } while (done < size);
        return VI_SUCCESS;
    }

    ViStatus Read(std::uint8_t* data, std::size_t capacity, ReadMode mode,
                  const SessionSettings& settings, ReadResult& result) override {
        result = {};
        if (m_lost)
            return VI_ERROR_CONN_LOST;
        if (capacity == 0)
            return VI_SUCCESS;
        if (m_begin == m_end) {
            if (const ViStatus s =
                    ReceiveTransfer(capacity, DeadlineAfter(settings.timeoutMs), settings);
                s != VI_SUCCESS)
                return s;
        }
        std::size_t n = std::min(capacity, m_end - m_begin);
        // With VI_ATTR_TERMCHAR_EN the character ends a read here, as on the
        // other transports; the rest stays for the next read.
        bool termChar = false;
        if (mode == ReadMode::Message && settings.termCharEnabled) {
            const std::uint8_t* from = m_stage.data() + m_begin;
            if (const void* at = std::memchr(from, settings.termChar, n)) {
                n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - from) + 1;
                termChar = true;
            }
        }
        std::memcpy(data, m_stage.data() + m_begin, n);
        m_begin += n;
        result.count = n;
        if (m_begin == m_end && m_stageEom)
            result.end = ReadEnd::End;
        else if (termChar)
            result.end = ReadEnd::TermChar;
        return VI_SUCCESS;
    }

    // EOM ends every message.
    bool SignalsEnd() const override { return true; }
    std::size_t Buffered() const override { return m_end - m_begin; }

    ViStatus Clear(const SessionSettings& /*settings*/) override {
        if (m_lost)
            return VI_ERROR_CONN_LOST;
        m_begin = m_end = 0;
        const Deadline deadline = std::chrono::steady_clock::now() + kRecoveryTime;
        std::uint8_t reply[tmc::kCheckClearReplySize] = {};
        std::size_t got = 0;
        UsbResult r = m_device->Control({tmc::kRequestTypeInterfaceIn, tmc::kInitiateClear, 0,
                                         m_id.interfaceNumber, tmc::kInitiateClearReplySize},
                                        reply, deadline, got);
        if (r != UsbResult::Ok)
            return Fail(r);
        if (got >= 1 && reply[0] == tmc::kStatusSuccess) {
            for (;;) {
                r = m_device->Control({tmc::kRequestTypeInterfaceIn, tmc::kCheckClearStatus, 0,
                                       m_id.interfaceNumber, tmc::kCheckClearReplySize},
                                      reply, deadline, got);
                if (r != UsbResult::Ok)
                    return Fail(r);
                if (got < 1 || reply[0] != tmc::kStatusPending)
                    break;
                if (got >= 2 && (reply[1] & 0x01) != 0)
                    DrainBulkIn(deadline);
                if (std::chrono::steady_clock::now() >= deadline)
                    return VI_ERROR_TMO;
            }
        }
        // The class asks the host to clear the bulk-OUT halt after a clear.
        r = m_device->ClearHalt(m_id.bulkOut, deadline);
        return r == UsbResult::Ok ? VI_SUCCESS : Fail(r);
    }

    // USB488 READ_STATUS_BYTE. A device with an interrupt-IN endpoint sends
    // the status byte there and only confirms the request on the default
    // pipe; one without puts it in the control reply. Plain USBTMC has no
    // such request: the session asks *STB? instead.
    ViStatus ReadStatusByte(const SessionSettings& settings, ViUInt16& stb) override {
        if (m_lost)
            return VI_ERROR_CONN_LOST;
        if (m_id.protocol != tmc::kProtocolUsb488)
            return VI_ERROR_NSUP_OPER;
        const Deadline deadline = DeadlineAfter(settings.timeoutMs);
        m_statusTag = tmc::NextStatusByteTag(m_statusTag);
        std::uint8_t bytes[tmc::kReadStatusByteReplySize] = {};
        std::size_t got = 0;
        if (const UsbResult r =
                m_device->Control({tmc::kRequestTypeInterfaceIn, tmc::kReadStatusByte, m_statusTag,
                                   m_id.interfaceNumber, sizeof bytes},
                                  bytes, deadline, got);
            r != UsbResult::Ok)
            return Fail(r);
        tmc::StatusByteReply reply;
        if (!tmc::DecodeStatusByteReply(std::span(bytes, got), reply) ||
            reply.status != tmc::kStatusSuccess || reply.tag != m_statusTag)
            return VI_ERROR_IO;
        if (m_id.interruptIn == 0) {
            stb = reply.statusByte;
            return VI_SUCCESS;
        }
        // Notifications of other kinds (an SRQ, an older request's answer)
        // may come first; a device sending only those is broken.
        std::vector<std::uint8_t> packet(std::max<std::size_t>(m_id.interruptPacketSize, 2));
        for (int i = 0; i < kMaxOtherNotifications; ++i) {
            if (const UsbResult r = m_device->Transfer(m_id.interruptIn, packet.data(),
                                                       packet.size(), deadline, got);
                r != UsbResult::Ok)
                return Fail(r);
            std::uint8_t tag = 0;
            std::uint8_t value = 0;
            if (tmc::DecodeStatusByteNotification(std::span(packet.data(), got), tag, value) &&
                tag == m_statusTag) {
                stb = value;
                return VI_SUCCESS;
            }
        }
        return VI_ERROR_IO;
    }

    ViStatus GetAttribute(ViAttr attribute, void* value) const override {
        switch (attribute) {
        case VI_ATTR_MANF_ID:
            *static_cast<ViUInt16*>(value) = m_id.vendorId;
            return VI_SUCCESS;
        case VI_ATTR_MODEL_CODE:
            *static_cast<ViUInt16*>(value) = m_id.productId;
            return VI_SUCCESS;
        case VI_ATTR_USB_SERIAL_NUM:
            std::snprintf(static_cast<ViChar*>(value), 256, "%s", m_id.serialNumber.c_str());
            return VI_SUCCESS;
        case VI_ATTR_USB_INTFC_NUM:
            *static_cast<ViInt16*>(value) = m_id.interfaceNumber;
            return VI_SUCCESS;
        case VI_ATTR_USB_PROTOCOL:
            *static_cast<ViInt16*>(value) = m_id.protocol;
            return VI_SUCCESS;
        case VI_ATTR_USB_MAX_INTR_SIZE:
            *static_cast<ViUInt16*>(value) = m_id.interruptIn == 0 ? 0 : m_id.interruptPacketSize;
            return VI_SUCCESS;
        default:
            return VI_ERROR_NSUP_ATTR;
        }
    }

    // Called once after opening.
    ViStatus Start(Deadline deadline) {
        // USB488 devices that offer remote/local control are put in remote,
        // as a GPIB controller would assert REN; some firmware advertises it
        // and then stalls the request.
        if (m_id.protocol == tmc::kProtocolUsb488 && m_capabilities.RemoteLocalSupported() &&
            !m_quirks.noRenControl) {
            std::uint8_t reply[1] = {};
            std::size_t got = 0;
            const UsbResult r = m_device->Control(
                {tmc::kRequestTypeInterfaceIn, tmc::kRenControl, 1, m_id.interfaceNumber, 1}, reply,
                deadline, got);
            if (r == UsbResult::Lost)
                return Fail(r);
        }
        return VI_SUCCESS;
    }

private:
    ViStatus Fail(UsbResult r) {
        if (r == UsbResult::Lost)
            m_lost = true;
        return usb::StatusOf(r);
    }

    // The TransferSize to ask for: the wanted count, bounded by the model's
    // limit, and where possible such that header and data fill whole
    // packets, so that a full transfer completes the read without a short
    // packet (Rigol DS1000Z sends none at a packet boundary).
    std::uint32_t TransferSizeFor(std::size_t wanted, std::size_t limit) const {
        const std::size_t packet = m_id.bulkInPacketSize;
        std::size_t size = std::min(std::max<std::size_t>(wanted, 1), limit);
        const std::size_t rounded = (size + tmc::kHeaderSize + packet - 1) / packet * packet;
        if (rounded - tmc::kHeaderSize <= limit)
            size = rounded - tmc::kHeaderSize;
        else if (limit + tmc::kHeaderSize >= packet)
            size = (limit + tmc::kHeaderSize) / packet * packet - tmc::kHeaderSize;
        return static_cast<std::uint32_t>(size);
    }

    std::size_t WholePackets(std::size_t size) const {
        const std::size_t packet = m_id.bulkInPacketSize;
        return std::max<std::size_t>((size + packet - 1) / packet * packet, packet);
    }

    // One bulk-IN transfer into data. With a progress handler the wait is
    // cut into slices: a slice that ends first cancels the transfer (the
    // host sides promise that, and hand over what arrived before), and the
    // next one takes the device's packets from where it stopped. cancelled
    // tells that the handler cancelled meanwhile.
    UsbResult BulkIn(std::uint8_t* data, std::size_t size, Deadline deadline,
                     const SessionSettings& settings, std::size_t& got, bool& cancelled) {
        got = 0;
        cancelled = false;
        // Without a handler the slices are longer: they only let a viClose
        // from another thread end the wait (ProgressMeter::Interrupt).
        const bool reporting = Reporting(settings);
        const bool slicing = settings.progress != nullptr;
        const auto slice = reporting ? ProgressMeter::kWakeInterval : kInterruptSlice;
        for (;;) {
            if (slicing && settings.progress->Cancelled()) {
                cancelled = true;
                return UsbResult::Timeout;
            }
            const Deadline wake =
                slicing ? std::min(deadline, std::chrono::steady_clock::now() + slice) : deadline;
            std::size_t n = 0;
            const UsbResult r = m_device->Transfer(m_id.bulkIn, data + got, size - got, wake, n);
            got += n;
            // Whole packets that came before a slice ended do not end the
            // transfer; a short one does.
            const bool shortPacket = n % m_id.bulkInPacketSize != 0;
            if (r != UsbResult::Timeout || !slicing || shortPacket || got == size ||
                std::chrono::steady_clock::now() >= deadline)
                return r == UsbResult::Timeout && (shortPacket || got == size) ? UsbResult::Ok : r;
            if (settings.progress->Waiting() != VI_SUCCESS) {
                cancelled = true;
                return UsbResult::Timeout;
            }
        }
    }

    // Asks for one transfer and takes its data into the stage.
    ViStatus ReceiveTransfer(std::size_t wanted, Deadline deadline,
                             const SessionSettings& settings) {
        m_begin = m_end = 0;
        const bool reporting = Reporting(settings);
        const std::uint32_t transferSize =
            TransferSizeFor(wanted, reporting ? std::min<std::size_t>(m_quirks.maxTransferSize,
                                                                      ProgressMeter::kMaxPiece)
                                              : m_quirks.maxTransferSize);
        m_tag = tmc::NextTag(m_tag);
        const std::uint8_t tag = m_tag;
        std::uint8_t request[tmc::kHeaderSize];
        tmc::EncodeRequestDevDepMsgIn(tag, transferSize, false, 0, request);
        std::size_t sent = 0;
        if (const UsbResult r =
                m_device->Transfer(m_id.bulkOut, request, sizeof request, deadline, sent);
            r != UsbResult::Ok) {
            if (r == UsbResult::Timeout || r == UsbResult::Stall)
                AbortBulkOut(tag);
            return Fail(r);
        }
        const std::size_t first = WholePackets(tmc::kHeaderSize + transferSize);
        m_stage.resize(first);
        std::size_t got = 0;
        bool cancelled = false;
        for (int empty = 0;; ++empty) {
            const UsbResult r = BulkIn(m_stage.data(), first, deadline, settings, got, cancelled);
            if (cancelled)
                return Cancel(tag);
            if (r != UsbResult::Ok)
                return FailRead(r, tag);
            if (got > 0)
                break;
            if (empty + 1 >= kMaxEmptyTransfers) {
                AbortBulkIn(tag);
                return VI_ERROR_IO;
            }
        }
        tmc::BulkInHeader header;
        if (!tmc::DecodeBulkInHeader(std::span(m_stage.data(), got), header) ||
            header.msgId != tmc::kDevDepMsgIn || header.tag != tag ||
            header.transferSize > transferSize + kMaxExtraBytes) {
            // Not the reply to this request (a stale transfer, a wrong bTag):
            // the device and this side no longer agree, so both start over.
            AbortBulkIn(tag);
            return VI_ERROR_IO;
        }
        // The rest of the transfer's data, however the device packs it: a
        // short packet ends a bulk-IN transfer, and a device that sends
        // 64-byte packets on a 512-byte endpoint (a DS1054Z: linux-usbtmc
        // issue 8) ends each after 64 bytes, long before its TransferSize.
        // As the Linux usbtmc driver does, bulk-IN is read on until the
        // header's size has come, without a new request, bounded by the
        // timeout.
        const std::size_t whole = tmc::kHeaderSize + header.transferSize;
        for (int empty = 0; got < whole;) {
            const std::size_t more = WholePackets(whole - got);
            m_stage.resize(got + more);
            std::size_t n = 0;
            const UsbResult r =
                BulkIn(m_stage.data() + got, more, deadline, settings, n, cancelled);
            if (cancelled)
                return Cancel(tag);
            if (r != UsbResult::Ok)
                return FailRead(r, tag);
            got += n;
            if (n > 0) {
                empty = 0;
            } else if (++empty >= kMaxEmptyTransfers) {
                AbortBulkIn(tag);
                return VI_ERROR_IO;
            }
        }
        const std::size_t data = header.transferSize;
        m_begin = tmc::kHeaderSize;
        m_end = tmc::kHeaderSize + data;
        m_stageEom = header.Eom();
        if (reporting && CountMoved(*settings.progress, data, false) != VI_SUCCESS) {
            // The transfer is complete: nothing to abort.
            m_begin = m_end = 0;
            return VI_ERROR_ABORT;
        }
        return VI_SUCCESS;
    }

    // The handler cancelled while a transfer was under way.
    ViStatus Cancel(std::uint8_t tag) {
        AbortBulkIn(tag);
        return m_lost ? VI_ERROR_CONN_LOST : VI_ERROR_ABORT;
    }

    ViStatus FailRead(UsbResult r, std::uint8_t tag) {
        if (r == UsbResult::Timeout || r == UsbResult::Stall || r == UsbResult::Overflow)
            AbortBulkIn(tag);
        m_begin = m_end = 0;
        return Fail(r);
    }

    // Reads and drops bulk-IN data until a short packet or nothing comes.
    void DrainBulkIn(Deadline deadline) {
        std::vector<std::uint8_t> scratch(WholePackets(4096));
        for (int i = 0; i < 64; ++i) {
            const Deadline wait = std::min(deadline, std::chrono::steady_clock::now() + kDrainWait);
            std::size_t n = 0;
            if (m_device->Transfer(m_id.bulkIn, scratch.data(), scratch.size(), wait, n) !=
                    UsbResult::Ok ||
                n < scratch.size())
                return;
        }
    }

    // USBTMC's abort of a bulk-IN transfer: INITIATE_ABORT_BULK_IN, drain,
    // CHECK_ABORT_BULK_IN_STATUS until it is no longer pending. Afterwards
    // the device holds nothing of the abandoned reply.
    void AbortBulkIn(std::uint8_t tag) {
        m_begin = m_end = 0;
        if (m_lost)
            return;
        const Deadline deadline = std::chrono::steady_clock::now() + kRecoveryTime;
        std::uint8_t reply[tmc::kCheckAbortReplySize] = {};
        std::size_t got = 0;
        UsbResult r = m_device->Control({tmc::kRequestTypeEndpointIn, tmc::kInitiateAbortBulkIn,
                                         tag, m_id.bulkIn, tmc::kInitiateAbortReplySize},
                                        reply, deadline, got);
        if (r == UsbResult::Lost)
            m_lost = true;
        if (r != UsbResult::Ok || got < 1 || reply[0] != tmc::kStatusSuccess)
            return;
        DrainBulkIn(deadline);
        while (std::chrono::steady_clock::now() < deadline) {
            r = m_device->Control({tmc::kRequestTypeEndpointIn, tmc::kCheckAbortBulkInStatus, 0,
                                   m_id.bulkIn, tmc::kCheckAbortReplySize},
                                  reply, deadline, got);
            tmc::AbortStatus status;
            if (r != UsbResult::Ok || !tmc::DecodeAbortStatus(std::span(reply, got), status)) {
                if (r == UsbResult::Lost)
                    m_lost = true;
                return;
            }
            if (status.status != tmc::kStatusPending)
                return;
            if (status.dataInFifo)
                DrainBulkIn(deadline);
        }
    }

    // The same for a bulk-OUT transfer, ending with the halt cleared.
    void AbortBulkOut(std::uint8_t tag) {
        if (m_lost)
            return;
        const Deadline deadline = std::chrono::steady_clock::now() + kRecoveryTime;
        std::uint8_t reply[tmc::kCheckAbortReplySize] = {};
        std::size_t got = 0;
        UsbResult r = m_device->Control({tmc::kRequestTypeEndpointIn, tmc::kInitiateAbortBulkOut,
                                         tag, m_id.bulkOut, tmc::kInitiateAbortReplySize},
                                        reply, deadline, got);
        if (r == UsbResult::Ok && got >= 1 && reply[0] == tmc::kStatusSuccess) {
            while (std::chrono::steady_clock::now() < deadline) {
                r = m_device->Control({tmc::kRequestTypeEndpointIn, tmc::kCheckAbortBulkOutStatus,
                                       0, m_id.bulkOut, tmc::kCheckAbortReplySize},
                                      reply, deadline, got);
                if (r != UsbResult::Ok || got < 1 || reply[0] != tmc::kStatusPending)
                    break;
            }
        }
        if (r == UsbResult::Lost) {
            m_lost = true;
            return;
        }
        m_device->ClearHalt(m_id.bulkOut, deadline);
    }

    std::unique_ptr<usb::IUsbDevice> m_device;
    UsbtmcIdentity m_id;
    tmc::Capabilities m_capabilities;
    usb::UsbQuirks m_quirks;
    std::uint8_t m_tag = 0;
    std::uint8_t m_statusTag = 0;
    bool m_lost = false;
    std::vector<std::uint8_t> m_out;
    // The data of the last transfer, m_begin..m_end not yet handed out;
    // m_stageEom when that transfer ended the message.
    std::vector<std::uint8_t> m_stage;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_stageEom = false;
};

// Opens the session's transport on an identified device: capabilities,
// configuration and claim, then the quirks of the model.
ViStatus StartTransport(std::unique_ptr<usb::IUsbDevice> device, const UsbtmcIdentity& id,
                        Deadline deadline, std::unique_ptr<ITransport>& transport) {
    if (const UsbResult r = device->Claim(id.configurationValue, id.interfaceNumber, deadline);
        r != UsbResult::Ok)
        return usb::StatusOf(r);
    std::uint8_t caps[tmc::kCapabilitiesSize] = {};
    std::size_t got = 0;
    tmc::Capabilities capabilities;
    if (device->Control({tmc::kRequestTypeInterfaceIn, tmc::kGetCapabilities, 0, id.interfaceNumber,
                         tmc::kCapabilitiesSize},
                        caps, deadline, got) != UsbResult::Ok ||
        !tmc::DecodeCapabilities(std::span(caps, got), capabilities))
        capabilities = {}; // optional in practice: go on with the plain class
    auto usbtmc = std::make_unique<UsbtmcTransport>(std::move(device), id, capabilities,
                                                    usb::QuirksFor(id.vendorId, id.productId));
    if (const ViStatus s = usbtmc->Start(deadline); s != VI_SUCCESS)
        return s;
    transport = std::move(usbtmc);
    return VI_SUCCESS;
}

} // namespace

namespace usb {

ViStatus StatusOf(UsbResult result) {
    switch (result) {
    case UsbResult::Ok:
        return VI_SUCCESS;
    case UsbResult::Timeout:
        return VI_ERROR_TMO;
    case UsbResult::Lost:
        return VI_ERROR_CONN_LOST;
    case UsbResult::NoAccess:
        return QVI_ERROR_NO_PERMISSION;
    case UsbResult::Busy:
        return VI_ERROR_RSRC_BUSY;
    default:
        return VI_ERROR_IO;
    }
}

} // namespace usb

ViStatus OpenUsbTransport(const ResourceName& name, const SessionSettings& settings,
                          std::unique_ptr<ITransport>& transport) {
    const Deadline deadline = DeadlineAfter(settings.timeoutMs);
    std::unique_ptr<usb::IUsbDevice> device;
    UsbtmcIdentity id;
    if (const ViStatus s = FindUsbtmcDevice(name, settings, deadline, device, id); s != VI_SUCCESS)
        return s;
    return StartTransport(std::move(device), id, deadline, transport);
}

} // namespace quarvel::visa
