#include "codec/ieee488_block.h"

namespace quarvel::visa {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

BlockHeaderResult ParseBlockHeader(std::string_view text, BlockHeader& header,
                                   std::uint64_t maxLength) {
    if (text.empty())
        return BlockHeaderResult::NeedMore;
    if (text[0] != '#')
        return BlockHeaderResult::Invalid;
    if (text.size() < 2)
        return BlockHeaderResult::NeedMore;
    if (!IsDigit(text[1]))
        return BlockHeaderResult::Invalid;
    const std::size_t digits = static_cast<std::size_t>(text[1] - '0');
    if (digits == 0) {
        header = BlockHeader{true, 2, 0};
        return BlockHeaderResult::Ok;
    }
    // At most nine digits: the value always fits in 64 bits.
    std::uint64_t length = 0;
    const std::size_t available = text.size() - 2;
    for (std::size_t i = 0; i < digits && i < available; ++i) {
        const char c = text[2 + i];
        if (!IsDigit(c))
            return BlockHeaderResult::Invalid;
        length = length * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (available < digits)
        return BlockHeaderResult::NeedMore;
    if (length > maxLength)
        return BlockHeaderResult::Invalid;
    header = BlockHeader{false, 2 + digits, length};
    return BlockHeaderResult::Ok;
}

std::string FormatBlockHeader(std::uint64_t dataLength) {
    const std::string digits = std::to_string(dataLength);
    // A length of ten or more digits cannot be expressed in a header.
    if (digits.size() > 9)
        return {};
    std::string header(1, '#');
    header += static_cast<char>('0' + digits.size());
    header += digits;
    return header;
}

} // namespace quarvel::visa
