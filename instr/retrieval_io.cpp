#include "instr/retrieval_io.h"

#include "instr/reply_header.h"
#include "wavedata/waveform_preamble.h"

#include <limits>

namespace quarvel::wavedata {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

bool SendText(ViSession session, const std::string& command) {
    if (command.size() > MAX_COMMAND_LENGTH) {
        return false;
    }
    // The line feed goes in the format: that is what ends the message and
    // sends it (a line feed inside an argument is only data).
    std::string text = command;
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return viPrintf(session, "%s\n", text.c_str()) == VI_SUCCESS;
}

bool QueryLine(ViSession session, const std::string& command, std::size_t limit,
               std::string& reply) {
    if (!SendText(session, command)) {
        return false;
    }
    std::string text;
    char chunk[256];
    for (;;) {
        ViUInt32 received = 0;
        const ViStatus status =
            viRead(session, reinterpret_cast<ViByte*>(chunk), sizeof chunk, &received);
        if (status != VI_SUCCESS && status != VI_SUCCESS_TERM_CHAR &&
            status != VI_SUCCESS_MAX_CNT) {
            return false;
        }
        text.append(chunk, received);
        if (text.size() > limit + 2) { // the line end does not count
            viFlush(session, VI_READ_BUF);
            return false;
        }
        // End of message, its line feed, or a full chunk that happens to
        // end with the line feed.
        if (status != VI_SUCCESS_MAX_CNT || (received > 0 && chunk[received - 1] == '\n')) {
            break;
        }
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.pop_back();
    }
    if (text.size() > limit) {
        return false;
    }
    // Instruments with reply headers on answer "<header> <value>".
    reply = quarvel::instr::SkipEchoedHeader(text, command);
    return true;
}

bool QueryWord(ViSession session, const std::string& command, std::size_t limit,
               std::string& word) {
    std::string line;
    if (!QueryLine(session, command, limit, line)) {
        return false;
    }
    std::size_t begin = 0;
    while (begin < line.size() && IsSpace(line[begin])) {
        ++begin;
    }
    std::size_t end = begin;
    while (end < line.size() && !IsSpace(line[end])) {
        ++end;
    }
    if (end == begin) {
        return false;
    }
    word = line.substr(begin, end - begin);
    return true;
}

bool QueryInt32(ViSession session, const std::string& command, std::int32_t& value) {
    std::string line;
    std::int64_t number = 0;
    if (!QueryLine(session, command, 256, line) || !ReadLeadingInteger(line, number) ||
        number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    value = static_cast<std::int32_t>(number);
    return true;
}

bool ReadExactly(ViSession session, std::uint8_t* data, std::size_t count) {
    std::size_t total = 0;
    while (total < count) {
        const std::size_t wanted = count - total;
        const ViUInt32 piece = wanted > 0x40000000u ? 0x40000000u : static_cast<ViUInt32>(wanted);
        ViUInt32 received = 0;
        const ViStatus status = viRead(session, data + total, piece, &received);
        if (status != VI_SUCCESS && status != VI_SUCCESS_MAX_CNT &&
            status != VI_SUCCESS_TERM_CHAR) {
            return false;
        }
        // A read may end early at a line feed that belongs to the data, so
        // an early end is no failure by itself; a reply that really ended
        // makes the next read fail (time-out) instead.
        if (received == 0) {
            return false;
        }
        total += received;
    }
    return true;
}

} // namespace quarvel::wavedata
