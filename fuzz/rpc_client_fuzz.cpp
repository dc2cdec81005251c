// Fuzzes what the VXI-11 client decodes from the network: record marking,
// RPC reply headers and every reply body it reads (portmapper GETPORT,
// create_link, device_write, device_read, device_clear/destroy_link).

#include "visa/oncrpc.h"

#include <cstdint>
#include <cstdlib>

namespace rpc = quarvel::visa::rpc;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const rpc::ByteView input(data + 1, size - 1);

    // Record marking: arbitrary pieces, bounded records.
    rpc::RecordAssembler assembler(4096);
    std::size_t pos = 0;
    const std::size_t piece = 1 + data[0] % 64;
    while (pos < input.size()) {
        const std::size_t n = std::min(piece, input.size() - pos);
        std::size_t consumed = 0;
        const auto state = assembler.Feed(input.subspan(pos, n), &consumed);
        if (consumed > n)
            std::abort();
        pos += consumed;
        if (state == rpc::RecordAssembler::State::TooLarge)
            break;
        if (state == rpc::RecordAssembler::State::RecordReady) {
            if (assembler.TakeRecord().size() > 4096)
                std::abort();
        } else if (consumed == 0) {
            std::abort(); // no progress while needing more
        }
    }

    // Reply header followed by each kind of result.
    rpc::XdrReader in(input);
    rpc::ReplyHeader header;
    if (!rpc::DecodeReplyHeader(in, header))
        return 0;
    const std::size_t after = input.size() - in.Remaining();
    const rpc::ByteView body = input.subspan(after);
    switch (data[0] % 7) {
    case 0: {
        rpc::XdrReader r(body);
        std::uint32_t port = 0;
        if (rpc::DecodeGetPortResult(r, port) && port > 0xFFFF)
            std::abort();
        break;
    }
    case 1: {
        rpc::XdrReader r(body);
        rpc::CreateLinkResp m;
        rpc::Decode(r, m);
        break;
    }
    case 2: {
        rpc::XdrReader r(body);
        rpc::DeviceWriteResp m;
        rpc::Decode(r, m);
        break;
    }
    case 3: {
        rpc::XdrReader r(body);
        rpc::DeviceReadResp m;
        if (rpc::Decode(r, m) && (m.data.data() < body.data() ||
                                  m.data.data() + m.data.size() > body.data() + body.size()))
            std::abort();
        break;
    }
    case 4: {
        rpc::XdrReader r(body);
        rpc::DeviceReadResp m;
        std::uint32_t length = 0;
        if (rpc::DecodeDeviceReadRespHead(r, m, length, 1000) && length > 1000)
            std::abort();
        break;
    }
    case 5: {
        rpc::XdrReader r(body);
        rpc::DeviceError m;
        rpc::Decode(r, m);
        break;
    }
    default: {
        rpc::XdrReader r(body);
        rpc::DeviceReadStbResp m;
        rpc::Decode(r, m);
        break;
    }
    }
    return 0;
}
