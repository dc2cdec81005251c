// Fuzzes the two small reply parsers of the drivers: the echoed-header rule
// (the first byte splits query from reply) and the BMP file-header length.

#include "instr/bmp_extent.h"
#include "instr/reply_header.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t split = data[0] % size;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string_view query = text.substr(0, split);
    const std::string_view reply = text.substr(split);
    const std::string_view value = quarvel::instr::SkipEchoedHeader(reply, query);
    // The value is always the reply or a tail of it.
    if (value.size() > reply.size() || value.data() + value.size() != reply.data() + reply.size())
        std::abort();

    const std::uint32_t length = quarvel::instr::BmpFileLength(data + 1, size - 1);
    if (length != 0 && (length < 26 || data[1] != 'B' || data[2] != 'M'))
        std::abort();
    return 0;
}
