// libFuzzer target: HiSLIP message decoding on both sides.
//
// Server: the input is a byte stream of messages as a client could send
// them; the first one opens a session, each later one goes to the
// synchronous or the asynchronous channel (bit 0 of the input's first byte
// picks the channel of odd messages) of the simulator's HiSLIP service.
//
// Client: the same bytes are what a server sends on both channels of an
// opened session (a socket pair, closed after the input); the client reads
// responses (message reads with a line feed as enabled termination
// character when the input's length is odd, raw reads otherwise), asks the
// status byte and clears until the stream ends. Neither side may crash, read
// out of bounds, allocate without bound or hang; a read ended by the
// termination character ends with it.

#include "codec/hislip_message.h"
#include "sim/faults.h"
#include "sim/hislip_service.h"
#include "sim/sim_instrument.h"
#include "visa/builtin_transports.h"
#include "visa/tcp_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

namespace hs = quarvel::visa::hislip;
using quarvel::sim::HislipService;
using quarvel::sim::HislipSessionState;

// Larger inputs would not fit a socket pair's buffer without a reader.
constexpr std::size_t kMaxInput = 48 * 1024;

void FuzzServer(const std::uint8_t* data, std::size_t size) {
    quarvel::sim::SimInstrument instrument("FUZZ,SIM,0,1.0");
    quarvel::sim::FaultOptions faults;
    HislipService service(instrument, nullptr, faults);
    std::shared_ptr<HislipSessionState> session;
    const bool oddToAsync = (data[0] & 1) != 0;
    std::size_t pos = 1;
    for (unsigned index = 0; pos + hs::kHeaderSize <= size; ++index) {
        hs::Header header;
        const auto result = hs::DecodeHeader(
            std::span<const std::uint8_t, hs::kHeaderSize>(data + pos, hs::kHeaderSize),
            HislipService::kServerMaxMessage - hs::kHeaderSize, header);
        pos += hs::kHeaderSize;
        if (result == hs::DecodeResult::BadPrologue)
            return;
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(header.payloadLength, size - pos));
        const quarvel::sim::HislipView payload(data + pos, length);
        pos += length;
        if (result != hs::DecodeResult::Ok)
            continue;
        if (!session) {
            bool isSync = false;
            service.Initialize(header, payload, session, isSync);
            continue;
        }
        if (oddToAsync && (index & 1) != 0)
            service.HandleAsync(*session, header, payload);
        else
            service.HandleSync(*session, header, payload);
    }
}

void FuzzClient(const std::uint8_t* data, std::size_t size) {
    int sync[2];
    int async[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sync) != 0)
        return;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, async) != 0) {
        close(sync[0]);
        close(sync[1]);
        return;
    }
    // The server's side: everything at once, then no more.
    [[maybe_unused]] ssize_t n = write(sync[1], data, size);
    n = write(async[1], data, size);
    shutdown(sync[1], SHUT_WR);
    shutdown(async[1], SHUT_WR);
    {
        auto transport = quarvel::visa::MakeHislipTransport(
            quarvel::visa::TcpConnection::Adopt(sync[0]),
            quarvel::visa::TcpConnection::Adopt(async[0]), hs::kVersion20);
        quarvel::visa::SessionSettings settings;
        settings.timeoutMs = 0;
        settings.termCharEnabled = size % 2 == 1;
        const quarvel::visa::ReadMode mode = settings.termCharEnabled
                                                 ? quarvel::visa::ReadMode::Message
                                                 : quarvel::visa::ReadMode::Raw;
        const std::uint8_t query[] = "*IDN?\n";
        transport->Write(query, sizeof query - 1, true, settings);
        std::vector<std::uint8_t> buffer(4096);
        for (int i = 0; i < 4096; ++i) {
            quarvel::visa::ReadResult result;
            if (transport->Read(buffer.data(), buffer.size(), mode, settings, result) != VI_SUCCESS)
                break;
            if (result.count > buffer.size() ||
                (result.end == quarvel::visa::ReadEnd::TermChar &&
                 (result.count == 0 || buffer[result.count - 1] != settings.termChar)))
                std::abort();
        }
        ViUInt16 stb = 0;
        transport->ReadStatusByte(settings, stb);
        transport->Clear(settings);
    }
    close(sync[1]);
    close(async[1]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > kMaxInput)
        return 0;
    FuzzServer(data, size);
    FuzzClient(data, size);
    return 0;
}
