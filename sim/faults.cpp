#include "sim/faults.h"

#include <algorithm>

namespace quarvel::sim {

OutgoingReply ApplyFaults(ResponseMessage&& response, const FaultOptions& faults) {
    // The reply's bytes move on: a 4 MB block is not copied once more here.
    OutgoingReply out{std::move(response.bytes), std::string::npos, response.delayMs,
                      response.faultTarget};
    if (!response.faultTarget)
        return out;
    out.delayMs += faults.delayMs;

    if (faults.garbage) {
        out.bytes = std::string(kGarbageReply);
        return out;
    }
    if (response.hasBlock && faults.blockOverclaim > 0) {
        const std::size_t headerSize = response.blockDataOffset - response.blockHeaderOffset;
        const int digits = out.bytes[response.blockHeaderOffset + 1] - '0';
        const std::string header = BlockHeader(
            response.blockDataLength + static_cast<std::size_t>(faults.blockOverclaim), digits);
        out.bytes.replace(response.blockHeaderOffset, headerSize, header);
    } else if (response.hasBlock && faults.blockCut >= 0) {
        const std::size_t keep =
            std::min(response.blockDataLength, static_cast<std::size_t>(faults.blockCut));
        out.bytes.resize(response.blockDataOffset + keep);
    }
    if (faults.dropMidReply)
        out.dropAfter = out.bytes.size() / 2;
    return out;
}

} // namespace quarvel::sim
