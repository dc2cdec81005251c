// quarvel-cli screenshot: connects, identifies the instrument, fetches its
// screen image through the driver chosen for it and writes it to a file in the
// format the file's extension names (or, with --raw, as the bytes came).

#include "capture/image_codec.h"
#include "cli/commands.h"
#include "cli/connection_options.h"
#include "cli/transfer_progress.h"
#include "instr/failure.h"
#include "instr/instr_connection.h"
#include "visa/ascii.h"
#include "visa/visa.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

constexpr const char* USAGE =
    "usage: quarvel-cli screenshot [--timeout MS] [--portmapper-port N] [--usbip HOST:PORT] "
    "[--visa-library PATH | --visa-library-all PATH] [--ink-saver] [--force] [--raw] "
    "ADDRESS FILE\n";

struct ScreenshotOptions {
    ConnectionOptions connection;
    bool inkSaver = false;
    bool force = false;
    // The instrument's bytes unchanged, whatever the file's extension.
    bool raw = false;
    std::string address;
    std::string file;
};

// Returns false (after printing why) when the arguments are not usable.
bool ParseArguments(int argc, char** argv, ScreenshotOptions& options) {
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string_view option = argv[i];
        if (option == "--ink-saver") {
            options.inkSaver = true;
        } else if (option == "--force") {
            options.force = true;
        } else if (option == "--raw") {
            options.raw = true;
        } else if (IsConnectionOption(option)) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quarvel-cli screenshot: %s needs a value\n", argv[i]);
                return false;
            }
            if (!ParseConnectionOption(option, argv[i + 1], options.connection)) {
                std::fprintf(stderr, "quarvel-cli screenshot: invalid value for %s: '%s'\n",
                             argv[i], argv[i + 1]);
                return false;
            }
            ++i;
        } else {
            std::fprintf(stderr, "quarvel-cli screenshot: unknown option '%s'\n", argv[i]);
            return false;
        }
    }
    if (argc - i != 2) {
        std::fputs(USAGE, stderr);
        return false;
    }
    options.address = argv[i];
    options.file = argv[i + 1];
    return true;
}

// The bytes to write: the instrument's own when they already are in the
// encoder's format (nothing lost to a second encoding), else the picture
// decoded and encoded anew. False, after saying why, when that fails.
bool ToFileFormat(const ByteBuffer& served, const ImageEncoder& encoder, ByteBuffer& bytes,
                  std::string& servedFormat) {
    servedFormat = DetectedFormat(served.data(), served.size());
    if (servedFormat == encoder.qtFormat) {
        bytes = served;
        return true;
    }
    QImage picture;
    if (LoadFromMemory(served.data(), served.size(), picture) != CodecStatus::Ok) {
        std::fprintf(stderr,
                     "quarvel-cli screenshot: the instrument's image (%zu bytes) could not be "
                     "decoded; nothing written (--raw writes its bytes as they came)\n",
                     served.size());
        return false;
    }
    if (EncodeToMemory(picture, encoder, bytes) != CodecStatus::Ok) {
        std::fprintf(stderr, "quarvel-cli screenshot: encoding the image as %s failed\n",
                     encoder.shortName.c_str());
        return false;
    }
    return true;
}

// Writes the whole image; an existing file is replaced only with `force`.
// A file this call created is removed again when the write fails.
bool WriteImageFile(const std::string& path, const ByteBuffer& bytes, bool force) {
    const int flags = O_WRONLY | O_CREAT | (force ? O_TRUNC : O_EXCL);
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        if (errno == EEXIST)
            std::fprintf(stderr,
                         "quarvel-cli screenshot: '%s' exists; use --force to overwrite it\n",
                         path.c_str());
        else
            std::fprintf(stderr, "quarvel-cli screenshot: cannot create '%s': %s\n", path.c_str(),
                         std::strerror(errno));
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const bool closed = close(fd) == 0;
    if (written != bytes.size() || !closed) {
        std::fprintf(stderr, "quarvel-cli screenshot: writing '%s' failed\n", path.c_str());
        unlink(path.c_str());
        return false;
    }
    return true;
}

} // namespace

int RunScreenshotCommand(int argc, char** argv) {
    ScreenshotOptions options;
    if (!ParseArguments(argc, argv, options))
        return 2;
    std::optional<ImageEncoder> encoder;
    if (!options.raw) {
        encoder = EncoderForPath(options.file);
        if (!encoder) {
            std::fprintf(stderr,
                         "quarvel-cli screenshot: the extension of '%s' names no image format; "
                         "use one of: %s (or --raw to write the instrument's bytes as they "
                         "came)\n",
                         options.file.c_str(), EncoderExtensionList().c_str());
            return 2;
        }
    }
    // Refuse before talking to the instrument rather than after the transfer.
    if (!options.force && access(options.file.c_str(), F_OK) == 0) {
        std::fprintf(stderr, "quarvel-cli screenshot: '%s' exists; use --force to overwrite it\n",
                     options.file.c_str());
        return 1;
    }

    quarvel::cli::TransferProgress progress;
    CInstrConnection connection;
    if (!ApplyResourceManagerOptions(connection.GetResourceManager(), options.connection,
                                     "screenshot"))
        return 1;
    if (!connection.Open(options.address)) {
        std::fprintf(stderr, "quarvel-cli screenshot: cannot connect to '%s'\n",
                     options.address.c_str());
        PrintOpenFailure(connection.GetResourceManager(), options.address, connection.OpenStatus(),
                         "screenshot");
        return 1;
    }
    if (!ApplySessionTimeout(connection.GetSession(), options.connection, "screenshot"))
        return 1;
    qviSetProgressHandler(connection.GetSession(), &quarvel::cli::TransferProgress::Handler,
                          &progress);
    if (!connection.QueryIdn()) {
        const std::string why = quarvel::instr::DescribeFailure(quarvel::instr::LastSessionFailure(
            connection.GetSession(), "waiting for the identification"));
        std::fprintf(stderr, "quarvel-cli screenshot: *IDN? query failed%s%s\n",
                     why.empty() ? "" : ": ", why.c_str());
        return 1;
    }
    if (!connection.CreateDriver()) {
        std::fprintf(stderr, "quarvel-cli screenshot: unknown instrument '%s'\n%s\n",
                     connection.GetIdn().c_str(),
                     UnknownInstrumentText(connection.GetIdn()).c_str());
        return 1;
    }

    CInstrLL& driver = *connection.GetDriver();
    driver.SetInkSaver(options.inkSaver);
    ByteBuffer image;
    driver.ClearFailure();
    const bool transferred = driver.GetScreenshot(image);
    progress.EndLine();
    // Interrupted: nothing is written, whatever had arrived.
    if (progress.Interrupted()) {
        std::fprintf(stderr, "quarvel-cli screenshot: interrupted; nothing written\n");
        return quarvel::cli::kExitInterrupted;
    }
    if (!transferred) {
        const std::string why = quarvel::instr::DescribeFailure(driver.LastFailure());
        std::fprintf(stderr, "quarvel-cli screenshot: screen image transfer from '%s' failed%s%s\n",
                     connection.GetIdn().c_str(), why.empty() ? "" : ": ", why.c_str());
        return 1;
    }
    if (options.raw) {
        if (!WriteImageFile(options.file, image, options.force))
            return 1;
        std::printf("%s: %zu bytes written to %s\n", connection.GetIdn().c_str(), image.size(),
                    options.file.c_str());
        return 0;
    }
    ByteBuffer file;
    std::string servedFormat;
    if (!ToFileFormat(image, *encoder, file, servedFormat))
        return 1;
    if (!WriteImageFile(options.file, file, options.force))
        return 1;
    if (servedFormat == encoder->qtFormat)
        std::printf("%s: %zu bytes written to %s\n", connection.GetIdn().c_str(), file.size(),
                    options.file.c_str());
    else
        std::printf("%s: %zu bytes written to %s (%s, converted from %s)\n",
                    connection.GetIdn().c_str(), file.size(), options.file.c_str(),
                    encoder->shortName.c_str(), quarvel::ascii::ToUpper(servedFormat).c_str());
    return 0;
}
