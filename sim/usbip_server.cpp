#include "sim/usbip_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <list>

namespace quarvel::sim {

namespace usbip = visa::usbip;

namespace {

// An OUT transfer larger than this ends the connection.
constexpr std::uint32_t kMaxOutUrb = 32u * 1024u * 1024u;
// IN transfers larger than this are refused (the host asks for what it reads).
constexpr std::uint32_t kMaxInUrb = 32u * 1024u * 1024u;

struct PendingIn {
    usbip::UrbHeader urb;
    UsbBytes data;
};

bool Send(int fd, const usbip::Bytes& bytes, const StopSignal& stop) {
    return SendAll(fd, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                   0, stop);
}

bool SendRetSubmit(int fd, const usbip::UrbHeader& cmd, std::int32_t status, const UsbBytes& data,
                   bool in, std::size_t outLength, const StopSignal& stop) {
    usbip::UrbHeader ret;
    ret.seqnum = cmd.seqnum;
    ret.status = status;
    ret.actualLength = static_cast<std::uint32_t>(in ? data.size() : outLength);
    usbip::Bytes header;
    usbip::AppendRetSubmit(header, ret);
    // The data goes out from where it is, behind the header in one write.
    const std::string_view body =
        in ? std::string_view(reinterpret_cast<const char*>(data.data()), data.size())
           : std::string_view();
    return SendGathered(
        fd, std::string_view(reinterpret_cast<const char*>(header.data()), header.size()), body,
        stop);
}

// Takes packets into an IN transfer; true when it is complete (a short
// packet, the buffer full, an overflow or a halt).
bool FillIn(SimUsbDevice& device, PendingIn& pending, std::int32_t& status) {
    const auto endpoint = static_cast<std::uint8_t>(0x80 | pending.urb.endpoint);
    const std::uint16_t packetSize = device.PacketSize(endpoint);
    UsbBytes packet;
    bool halted = false;
    status = 0;
    while (device.PeekIn(endpoint, packet, halted)) {
        if (pending.data.size() + packet.size() > pending.urb.transferLength) {
            // Babble: the packet does not fit what the host asked for.
            device.PopIn(endpoint);
            status = usbip::kUrbOverflow;
            return true;
        }
        // Room for the whole transfer at its first packet: a large one is
        // not copied again and again as it grows.
        if (pending.data.empty())
            pending.data.reserve(pending.urb.transferLength);
        pending.data.insert(pending.data.end(), packet.begin(), packet.end());
        device.PopIn(endpoint);
        if (packet.size() < packetSize || pending.data.size() == pending.urb.transferLength)
            return true;
    }
    if (halted) {
        status = usbip::kUrbStall;
        return true;
    }
    return false;
}

} // namespace

bool UsbipServer::Start(const std::string& address, std::uint16_t port, std::string& error) {
    if (!m_listener.Listen(address, port, error))
        return false;
    m_listener.Accept([this](int fd) { Serve(fd); });
    return true;
}

std::string UsbipServer::ResourceName() const {
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB0::0x%04X::0x%04X::", m_identity.vendorId,
                  m_identity.productId);
    return ids + m_identity.serialNumber + "::INSTR";
}

void UsbipServer::Serve(int fd) {
    // Each URB reply is one small message the host waits for.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::uint8_t headerBytes[usbip::kOpHeaderSize];
    usbip::OpHeader header;
    if (!ReceiveAll(fd, headerBytes, sizeof headerBytes, m_stop) ||
        !usbip::DecodeOpHeader(headerBytes, header))
        return;
    const usbip::ExportedDevice exported = ExportedDeviceFor(m_identity);
    usbip::Bytes reply;
    if (header.code == usbip::kOpReqDevlist) {
        usbip::AppendOpHeader(reply, usbip::kOpRepDevlist, usbip::kStatusOk);
        for (std::uint8_t b : {0, 0, 0, 1}) // one device
            reply.push_back(b);
        usbip::AppendDevice(reply, exported);
        usbip::AppendInterfaces(reply, exported);
        Send(fd, reply, m_stop);
        return;
    }
    if (header.code != usbip::kOpReqImport)
        return;
    std::uint8_t busIdBytes[usbip::kBusIdSize];
    std::string busId;
    if (!ReceiveAll(fd, busIdBytes, sizeof busIdBytes, m_stop) ||
        !usbip::DecodeBusId(busIdBytes, busId))
        return;
    const std::uint32_t status = busId != exported.busId ? usbip::kStatusNoDevice : AdmitImport();
    if (status != usbip::kStatusOk) {
        usbip::AppendOpHeader(reply, usbip::kOpRepImport, status);
        Send(fd, reply, m_stop);
        return;
    }
    usbip::AppendOpHeader(reply, usbip::kOpRepImport, usbip::kStatusOk);
    usbip::AppendDevice(reply, exported);
    if (Send(fd, reply, m_stop))
        ServeUrbs(fd);
    ImportEnded();
}

std::uint32_t UsbipServer::AdmitImport() {
    std::lock_guard lock(m_importMutex);
    if (m_options.exclusiveImport && m_importers > 0)
        return usbip::kStatusDeviceBusy;
    if (std::chrono::steady_clock::now() < m_refuseUntil)
        return usbip::kStatusNotAvailable;
    ++m_importers;
    return usbip::kStatusOk;
}

void UsbipServer::ImportEnded() {
    std::lock_guard lock(m_importMutex);
    --m_importers;
    m_refuseUntil = std::chrono::steady_clock::now() + m_options.importGap;
}

void UsbipServer::ServeUrbs(int fd) {
    SimUsbDevice device(m_identity, m_instrument, m_transcript, m_faults, m_options);
    std::list<PendingIn> pending;
    using Clock = std::chrono::steady_clock;
    // The rate limit: bulk-IN data leaves no faster than this, a transfer
    // completing once its bytes' time has come.
    const std::size_t rate = m_faults.rateBytesPerSecond;
    Clock::time_point paceUntil = Clock::now();
    for (;;) {
        // Complete what the device can answer now, oldest first per endpoint.
        bool blocked[16] = {};
        const bool paced = rate > 0 && Clock::now() < paceUntil;
        for (auto it = pending.begin(); it != pending.end();) {
            std::int32_t status = 0;
            if (blocked[it->urb.endpoint] || (paced && it->urb.endpoint != 0) ||
                !FillIn(device, *it, status)) {
                blocked[it->urb.endpoint] = true;
                ++it;
                continue;
            }
            if (rate > 0)
                paceUntil = std::max(paceUntil, Clock::now()) +
                            std::chrono::microseconds(static_cast<long long>(
                                it->data.size() * 1'000'000.0 / static_cast<double>(rate)));
            if (!SendRetSubmit(fd, it->urb, status, it->data, true, 0, m_stop))
                return;
            it = pending.erase(it);
        }
        if (device.Function().LinkDropped())
            return;
        int timeoutMs = -1;
        auto ready = device.Function().NextReadyTime();
        if (paced && !pending.empty())
            ready = std::min(ready, paceUntil);
        if (ready != Clock::time_point::max()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(ready - Clock::now());
            timeoutMs = static_cast<int>(std::max<long long>(left.count() + 1, 0));
        }
        const WaitResult wait = WaitReadable(fd, m_stop, timeoutMs);
        if (wait == WaitResult::Timeout)
            continue;
        if (wait != WaitResult::Ready)
            return;
        std::uint8_t headerBytes[usbip::kUrbHeaderSize];
        usbip::UrbHeader urb;
        if (!ReceiveAll(fd, headerBytes, sizeof headerBytes, m_stop) ||
            !usbip::DecodeUrbHeader(headerBytes, urb))
            return;
        if (urb.command == usbip::kCmdUnlink) {
            const auto it = std::find_if(pending.begin(), pending.end(), [&](const PendingIn& p) {
                return p.urb.seqnum == urb.unlinkSeqnum;
            });
            usbip::UrbHeader ret;
            ret.seqnum = urb.seqnum;
            ret.status = it != pending.end() ? usbip::kUrbUnlinked : 0;
            if (it != pending.end())
                pending.erase(it);
            usbip::Bytes message;
            usbip::AppendRetUnlink(message, ret);
            if (!Send(fd, message, m_stop))
                return;
            continue;
        }
        if (urb.command != usbip::kCmdSubmit)
            return;
        const bool in = urb.direction == usbip::kDirIn;
        UsbBytes outData;
        if (!in) {
            if (urb.transferLength > kMaxOutUrb)
                return;
            outData.resize(urb.transferLength);
            if (!ReceiveAll(fd, outData.data(), outData.size(), m_stop))
                return;
        }
        if (urb.endpoint == 0) {
            UsbBytes reply;
            const bool ok = device.Control(urb.setup, outData, reply);
            if (!SendRetSubmit(fd, urb, ok ? 0 : usbip::kUrbStall, reply, in,
                               ok ? outData.size() : 0, m_stop))
                return;
        } else if (!in) {
            const bool ok = device.Out(static_cast<std::uint8_t>(urb.endpoint), outData);
            if (!SendRetSubmit(fd, urb, ok ? 0 : usbip::kUrbStall, {}, false,
                               ok ? outData.size() : 0, m_stop))
                return;
        } else if (urb.transferLength > kMaxInUrb) {
            if (!SendRetSubmit(fd, urb, usbip::kUrbOverflow, {}, true, 0, m_stop))
                return;
        } else {
            pending.push_back({urb, {}});
        }
    }
}

} // namespace quarvel::sim
