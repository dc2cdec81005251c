// quarvel-cli scpi: sends each command through the VISA layer and prints the
// reply of each query (a command with '?'): a text reply as one line, an
// IEEE 488.2 block reply as its data bytes, header removed, so that
// "> shot.png" gives the instrument's file. Replies are read whole, however
// long, and printed once whole; a reply that cannot be read whole (or that
// Ctrl+C interrupts) is an error that prints nothing of it, never a silent cut.

#include "cli/commands.h"
#include "cli/connection_options.h"
#include "cli/transfer_progress.h"
#include "codec/ieee488_block.h"
#include "visa/visa.h"
#include "visa/visa_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* USAGE = "usage: quarvel-cli scpi [--timeout MS] [--portmapper-port N] "
                              "[--usbip HOST:PORT] [--visa-library PATH | --visa-library-all PATH] "
                              "ADDRESS COMMAND...\n";
// Replies are read in pieces of this size.
constexpr ViUInt32 kPieceSize = 64 * 1024;
struct ScpiOptions {
    ConnectionOptions connection;
    std::string address;
    std::vector<std::string> commands;
};

bool ParseArguments(int argc, char** argv, ScpiOptions& options) {
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string_view option = argv[i];

        if (!IsConnectionOption(option)) {
            std::fprintf(stderr, "quarvel-cli scpi: unknown option '%s'\n", argv[i]);
            return false;
        }
        if (i + 1 >= argc || !ParseConnectionOption(option, argv[i + 1], options.connection)) {
            std::fprintf(stderr, "quarvel-cli scpi: %s needs %s\n", argv[i],
                         ConnectionOptionValueText(option));
            return false;
        }
        ++i;
    }
    if (argc - i < 2) {
        std::fputs(USAGE, stderr);
        return false;
    }
    options.address = argv[i++];
    for (; i < argc; ++i)
        options.commands.emplace_back(argv[i]);
    return true;
}

int Fail(const char* what, const std::string& detail, ViStatus status) {
    std::fprintf(stderr, "quarvel-cli scpi: %s %s failed: %s (0x%08X)\n", what, detail.c_str(),
                 qviStatusName(status), static_cast<unsigned>(status));
    return 1;
}

// Closes the sessions however the command ends.
struct Sessions {
    ViSession rm = VI_NULL;
    ViSession instrument = VI_NULL;
    ~Sessions() {
        if (instrument != VI_NULL)
            viClose(instrument);
        if (rm != VI_NULL)
            viClose(rm);
    }
};

bool WriteOut(const ViByte* data, std::size_t size) {
    return std::fwrite(data, 1, size, stdout) == size;
}

// Why a reply could not be read whole.
struct ReplyError {
    ViStatus status = VI_SUCCESS;
    std::string what;
};

// The data of a definite-length block of `length` bytes, of which `have`
// bytes are at `data` already (read up to the message end when `ended`),
// appended to `reply`; the rest is read piece by piece into `piece`, which
// may hold `data`. A transport without END also ends a read at each line
// feed of the data: the reading goes on until the declared length has come.
bool ReadDefiniteBlock(ViSession vi, std::uint64_t length, const ViByte* data, std::size_t have,
                       bool ended, std::vector<ViByte>& piece, std::vector<ViByte>& reply,
                       ReplyError& error) {
    const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(have, length));
    reply.insert(reply.end(), data, data + first);
    // The progress line shows the block's length across the reads below.
    qviExpectReplyData(vi, length - first);
    std::uint64_t done = first;
    while (done < length) {
        const ViUInt32 want =
            static_cast<ViUInt32>(std::min<std::uint64_t>(length - done, piece.size()));
        ViUInt32 got = 0;
        const ViStatus s = viRead(vi, piece.data(), want, &got);
        if ((s != VI_SUCCESS && s != VI_SUCCESS_MAX_CNT) || got == 0) {
            error = {s, "block cut after " + std::to_string(done) + " of " +
                            std::to_string(length) + " bytes"};
            return false;
        }
        reply.insert(reply.end(), piece.data(), piece.data() + got);
        done += got;
    }
    // Only the reply's terminator is left, unless the first read took it
    // with the data: taken without waiting for one that a raw socket may
    // never send.
    if (have <= length)
        qviEndOfReplyData(vi);
    if (have <= length || !ended)
        viFlush(vi, VI_READ_BUF);
    return true;
}

// Appends the message that began with `data` (the first piece, `ended` when
// it reached the message end) to `reply`, reading the rest into `piece`
// (which may hold `data`), and drops its terminator (LF or CR LF).
bool ReadToMessageEnd(ViSession vi, const ViByte* data, std::size_t size, bool ended,
                      std::vector<ViByte>& piece, std::vector<ViByte>& reply, ReplyError& error) {
    reply.insert(reply.end(), data, data + size);
    while (!ended) {
        ViUInt32 got = 0;
        const ViStatus s = viRead(vi, piece.data(), static_cast<ViUInt32>(piece.size()), &got);
        if (s != VI_SUCCESS && s != VI_SUCCESS_MAX_CNT) {
            error = {s, "reply cut before its end"};
            return false;
        }
        ended = s == VI_SUCCESS;
        reply.insert(reply.end(), piece.data(), piece.data() + got);
    }
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.pop_back();
    return true;
}

// Reads one reply whole: a block's data without its header, a text reply
// with a line end of its own. Nothing of it is printed before it is whole,
// so a reply that fails or is interrupted (Ctrl+C) leaves no part of itself
// in the output.
bool ReadReply(ViSession vi, std::vector<ViByte>& piece, std::vector<ViByte>& reply,
               ReplyError& error) {
    reply.clear();
    ViUInt32 got = 0;
    const ViStatus s = viRead(vi, piece.data(), static_cast<ViUInt32>(piece.size()), &got);
    if (s != VI_SUCCESS && s != VI_SUCCESS_MAX_CNT) {
        error = {s, "no reply"};
        return false;
    }
    const bool ended = s == VI_SUCCESS;
    // The header's digits can end a read early only on a line feed, which
    // is no digit: the first piece holds the whole header of a valid block.
    quarvel::visa::BlockHeader block;
    const std::string_view start(reinterpret_cast<const char*>(piece.data()), got);
    if (got > 0 && piece[0] == '#' &&
        quarvel::visa::ParseBlockHeader(start, block) == quarvel::visa::BlockHeaderResult::Ok) {
        const ViByte* data = piece.data() + block.headerSize;
        const std::size_t have = got - block.headerSize;
        // "#0": data to the end of the message (END; on a raw socket the
        // line feed), whose terminator is no data.
        if (block.indefinite)
            return ReadToMessageEnd(vi, data, have, ended, piece, reply, error);
        return ReadDefiniteBlock(vi, block.dataLength, data, have, ended, piece, reply, error);
    }
    if (!ReadToMessageEnd(vi, piece.data(), got, ended, piece, reply, error))
        return false;
    reply.push_back('\n');
    return true;
}

} // namespace

int RunScpiCommand(int argc, char** argv) {
    ScpiOptions options;
    if (!ParseArguments(argc, argv, options))
        return 2;
    quarvel::cli::TransferProgress progress;
    Sessions sessions;
    if (const ViStatus s = viOpenDefaultRM(&sessions.rm); s != VI_SUCCESS)
        return Fail("opening the resource manager", "", s);
    // Set on the resource manager, the timeout also bounds viOpen.
    if (options.connection.timeoutMs != 0)
        viSetAttribute(sessions.rm, VI_ATTR_TMO_VALUE, options.connection.timeoutMs);
    if (!ApplyResourceManagerOptions(sessions.rm, options.connection, "scpi"))
        return 1;
    if (const ViStatus s =
            viOpen(sessions.rm, options.address.c_str(), VI_NULL, 0, &sessions.instrument);
        s < VI_SUCCESS) {
        sessions.instrument = VI_NULL;
        Fail("opening", options.address, s);
        PrintOpenFailure(sessions.rm, options.address, s, "scpi");
        return 1;
    }
    qviSetProgressHandler(sessions.instrument, &quarvel::cli::TransferProgress::Handler, &progress);
    std::vector<ViByte> piece(kPieceSize);
    std::vector<ViByte> reply;
    for (const std::string& command : options.commands) {
        if (const ViStatus s = viPrintf(sessions.instrument, "%s\n", command.c_str());
            s != VI_SUCCESS)
            return progress.Interrupted() ? quarvel::cli::kExitInterrupted
                                          : Fail("sending", "'" + command + "'", s);
        if (command.find('?') == std::string::npos)
            continue;
        ReplyError error;
        if (!ReadReply(sessions.instrument, piece, reply, error)) {
            std::fflush(stdout);
            progress.EndLine();
            if (progress.Interrupted())
                return quarvel::cli::kExitInterrupted;
            if (error.status == VI_SUCCESS) {
                std::fprintf(stderr, "quarvel-cli scpi: reading the reply to '%s' failed: %s\n",
                             command.c_str(), error.what.c_str());
                return 1;
            }
            return Fail("reading the reply to", "'" + command + "' (" + error.what + ")",
                        error.status);
        }
        if (!WriteOut(reply.data(), reply.size())) {
            std::fprintf(stderr, "quarvel-cli scpi: writing to standard output failed\n");
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
