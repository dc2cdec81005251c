// Fuzzes the formatted reader and the block parser through a real session on
// the in-memory device, as viScanf, viRead and viFlush drive it (each call
// begins the session's clock; the C API around them adds only the session
// table). The first byte chooses how the device behaves (END or socket-like
// line feeds, piece size, dropped connection) and the read formats; the rest,
// split at 0xFE bytes, are the replies. Links the VISA core only.

#include "visa/formatted_io.h"
#include "visa/transport_memory.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A text conversion that succeeded must leave a NUL inside its buffer.
void CheckText(ViStatus status, char* buffer, std::size_t size) {
    if (status == VI_SUCCESS && std::memchr(buffer, '\0', size) == nullptr)
        std::abort();
    std::memset(buffer, 'G', size);
}

// viScanf on the session.
ViStatus Scan(quarvel::visa::Session& session, const char* format, ...) {
    session.BeginCall();
    quarvel::visa::FormatArgs args;
    va_start(args.list, format);
    const ViStatus s = quarvel::visa::FormatRead(session, format, args);
    va_end(args.list);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint8_t mode = data[0];
    const std::uint8_t formats = data[1];
    quarvel::visa::MemoryDeviceOptions options;
    options.signalsEnd = (mode & 1) != 0;
    options.dropWhenEmpty = (mode & 2) != 0;
    options.pieceSize = std::size_t{1} << ((mode >> 2) & 15);
    auto device = std::make_shared<quarvel::visa::MemoryDevice>(options);
    std::string reply;
    for (std::size_t i = 2; i < size; ++i) {
        if (data[i] == 0xFE) {
            device->QueueReply(reply);
            reply.clear();
        } else {
            reply.push_back(static_cast<char>(data[i]));
        }
    }
    device->QueueReply(reply);

    quarvel::visa::Session vi(quarvel::visa::MakeMemoryTransport(device), {});
    // Guard bytes after each buffer catch any write past its end.
    char text[256 + 8];
    std::memset(text, 'G', sizeof text);
    std::vector<unsigned char> block(64 + 8, 'G');
    ViInt32 i32 = 0;
    double real = 0;
    ViUInt32 count = 0;
    for (int step = 0; step < 4; ++step) {
        switch ((formats >> (2 * step)) & 3) {
        case 0:
            CheckText(Scan(vi, "%t", text), text, 256);
            CheckText(Scan(vi, "%d,%lf %s", &i32, &real, text), text, 256);
            break;
        case 1:
            count = 64;
            Scan(vi, "%#b\n", &count, block.data());
            if (count > 64)
                std::abort();
            vi.BeginCall();
            vi.FlushRead();
            break;
        case 2: {
            ViUInt32 small = 5;
            ViUInt32 hex = 0;
            const ViStatus s = Scan(vi, "%ld %#s %x", &i32, &small, text, &hex);
            // Five bytes of room: at most four characters and the NUL.
            if (s == VI_SUCCESS && (small > 4 || text[small] != '\0'))
                std::abort();
            break;
        }
        default: {
            std::size_t got = 0;
            vi.BeginCall();
            vi.ReadMessage(block.data(), 64, got);
            if (got > 64)
                std::abort();
            vi.DiscardRead();
            break;
        }
        }
    }
    for (std::size_t i = 256; i < sizeof text; ++i)
        if (text[i] != 'G')
            std::abort();
    for (std::size_t i = 64; i < block.size(); ++i)
        if (block[i] != 'G')
            std::abort();
    return 0;
}
