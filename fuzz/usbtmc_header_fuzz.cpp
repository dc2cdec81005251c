// Fuzzes the USBTMC message layer's decoders, host and device side: bulk
// headers, capabilities, abort status and status byte replies, the
// interrupt endpoint's status byte notification. Whatever is accepted must
// hold together (a tag and its inverse, known message IDs).

#include "codec/usbtmc_message.h"

#include <cstdint>
#include <cstdlib>

namespace tmc = quarvel::visa::usbtmc;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tmc::ByteView input(data, size);
    tmc::BulkOutHeader out;
    if (tmc::DecodeBulkOutHeader(input, out)) {
        if (out.tag == 0 || size < tmc::kHeaderSize)
            std::abort();
        std::uint8_t again[tmc::kHeaderSize];
        if (out.msgId == tmc::kDevDepMsgOut) {
            tmc::EncodeDevDepMsgOut(out.tag, out.transferSize, out.Eom(), again);
            tmc::BulkOutHeader back;
            if (!tmc::DecodeBulkOutHeader(tmc::ByteView(again, sizeof again), back) ||
                back.transferSize != out.transferSize || back.Eom() != out.Eom())
                std::abort();
        }
    }
    tmc::BulkInHeader in;
    if (tmc::DecodeBulkInHeader(input, in) &&
        (in.tag == 0 || (in.msgId != tmc::kDevDepMsgIn && in.msgId != tmc::kVendorSpecificIn)))
        std::abort();
    tmc::Capabilities caps;
    if (tmc::DecodeCapabilities(input, caps) && caps.status != tmc::kStatusSuccess)
        std::abort();
    tmc::AbortStatus status;
    tmc::DecodeAbortStatus(input, status);
    tmc::StatusByteReply stbReply;
    tmc::DecodeStatusByteReply(input, stbReply);
    std::uint8_t tag = 0;
    std::uint8_t stb = 0;
    if (tmc::DecodeStatusByteNotification(input, tag, stb)) {
        std::uint8_t back = 0;
        std::uint8_t backStb = 0;
        const auto again = tmc::EncodeStatusByteNotification(tag, stb);
        if (tag < 2 || tag > 127 || !tmc::DecodeStatusByteNotification(again, back, backStb) ||
            back != tag || backStb != stb)
            std::abort();
    }
    return 0;
}
