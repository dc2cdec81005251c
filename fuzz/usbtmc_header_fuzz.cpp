// Fuzzes the USBTMC message layer's decoders, host and device side: bulk
// headers, capabilities and abort status replies. Whatever is accepted must
// hold together (a tag and its inverse, known message IDs).

#include "visa/usbtmc_message.h"

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
    return 0;
}
