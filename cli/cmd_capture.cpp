// quarvel-cli capture: connects, identifies the instrument and runs one
// capture in the "Save sequential" mode through the same capture controller
// that the desktop window uses, with a console standing in for the window.

#include "capture/capture_controller.h"
#include "capture/image_codec.h"
#include "capture/waveform_capture.h"
#include "cli/commands.h"
#include "cli/connection_options.h"
#include "cli/transfer_progress.h"
#include "visa/ascii.h"
#include "visa/visa.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr const char* USAGE =
    "usage: quarvel-cli capture ADDRESS [--dir D] [--name PATTERN] [--sequence N] [--format EXT]\n"
    "         [--comments TEXT] [--comments-file NAME] [--save-idn] [--stop] [--ink-saver]\n"
    "         [--delay S] [--timeout MS] [--portmapper-port N] [--usbip HOST:PORT]\n"
    "         [--visa-library PATH | --visa-library-all PATH]\n"
    "         [--waveforms CHAN1,CHAN2,...] [--data-format csv|dirfile]\n";

// The form's values as given on the command line; defaults as the settings'.
class ConsoleForm : public ICaptureForm {
public:
    std::string address;
    std::string imageDir = ".";
    std::string baseName = "Screenshot";
    std::string sequenceText = "0001";
    std::string commentsFile = "Comments.txt";
    std::string comments;
    std::string imageExtension = "png";
    bool inkSaver = false;
    bool stopWhileCapturing = false;
    bool saveIdn = false;
    std::uint32_t delay = 0;
    // --waveforms: the channels whose data is saved beside the image.
    bool retrieveWaveforms = false;
    std::vector<std::string> channels;
    DataFormat dataFormat = DataFormat::Csv; // the settings' default

    std::string GetVisaAddress() const override { return address; }
    std::string GetImageDir() const override { return imageDir; }
    std::string GetBaseName() const override { return baseName; }
    std::string GetSequenceText() const override { return sequenceText; }
    std::string GetCommentsFile() const override { return commentsFile; }
    std::string GetComments() const override { return comments; }
    bool GetInvertedGraticule() const override { return inkSaver; }
    bool GetStopWhileCapturing() const override { return stopWhileCapturing; }
    bool GetSaveIdnInComments() const override { return saveIdn; }
    std::uint32_t GetCaptureDelay() const override { return delay; }
    int GetSaveModeIndex() const override { return SAVE_MODE_SEQUENTIAL; }
    DataFormat GetDataFormat() const override { return dataFormat; }
    bool IsRetrieveWaveformsChecked() const override { return retrieveWaveforms; }
    int GetImageFormatIndex() const override { return -1; }
    std::string GetImageExtension() const override { return imageExtension; }

    void SetSequence(std::uint32_t, const std::string& text) override { sequenceText = text; }
    void SetIdnText(const std::string& idn) override { std::printf("*IDN? %s\n", idn.c_str()); }
    void SetConnected(bool) override {}
    void AddDirToHistory(const std::string&) override {}
    void ClearOfferedChannels() override {}
    void AddOfferedChannel(const std::string&) override {}
    void StashComments() override { comments.clear(); }
    void SnapshotSelectedChannels() override {}
    std::vector<std::string> CopySelectedChannels() const override { return channels; }
    void SetCaptureButtonCaption(const std::string&) override {}
};

class ConsoleWindow : public ICaptureWindow {
public:
    ConsoleForm form;
    quarvel::cli::TransferProgress progress;

    ICaptureForm& Form() override { return form; }
    void SetStatusText(const std::string& text) override {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
    void ShowMessage(const std::string& text, MessageIcon) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    bool AskSaveFileName(const SaveDialogRequest&, std::string&) override { return false; }
    bool PutImageOnClipboard(const QImage&, std::string& error) override {
        error = "quarvel-cli has no clipboard";
        return false;
    }
    void ShowPicture(const QImage*) override {}
    // The countdown is driven by RunCaptureCommand's own loop.
    void StartCountdownTimer() override {}
    void StopCountdownTimer() override {}
    // Ctrl+C cancels the transfer under way once; the capture then skips its
    // other transfers itself, and restarts a stopped instrument.
    bool TransferProgress(std::uint64_t done, std::uint64_t expected) override {
        if (!progress.Report(done, expected) || m_cancelSent)
            return false;
        m_cancelSent = true;
        return true;
    }
    void RequestEnded() override { progress.EndLine(); }

private:
    bool m_cancelSent = false;
};

// Creates `path` and its missing parents, as mkdir -p does. False, with the
// reason in `why`, when a component is a file or cannot be made.
bool MakeFolders(const std::string& path, std::string& why) {
    std::size_t end = 0;
    while (end < path.size()) {
        end = path.find('/', end + 1);
        if (end == std::string::npos)
            end = path.size();
        const std::string folder = path.substr(0, end);
        struct stat info {};
        if (stat(folder.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                why = "'" + folder + "' is a file, not a folder";
                return false;
            }
            continue;
        }
        if (errno != ENOENT) {
            why = "'" + folder + "': " + std::strerror(errno);
            return false;
        }
        if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            why = "cannot create '" + folder + "': " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

// "CHAN1, CHAN2" → {"CHAN1", "CHAN2"}; blanks around names dropped.
std::vector<std::string> SplitChannels(std::string_view text) {
    std::vector<std::string> names;
    while (!text.empty()) {
        const std::size_t comma = std::min(text.find(','), text.size());
        std::string_view name = text.substr(0, comma);
        while (!name.empty() && name.front() == ' ')
            name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        if (!name.empty())
            names.emplace_back(name);
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    return names;
}

// False (after saying why) when the arguments are not usable.
bool ParseArguments(int argc, char** argv, ConsoleForm& form, ConnectionOptions& connection) {
    bool haveAddress = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option.substr(0, 2) != "--") {
            if (haveAddress) {
                std::fputs(USAGE, stderr);
                return false;
            }
            form.address = argv[i];
            haveAddress = true;
            continue;
        }
        if (option == "--save-idn") {
            form.saveIdn = true;
            continue;
        }
        if (option == "--stop") {
            form.stopWhileCapturing = true;
            continue;
        }
        if (option == "--ink-saver") {
            form.inkSaver = true;
            continue;
        }
        static constexpr std::string_view kValued[] = {"--dir",    "--name",      "--sequence",
                                                       "--format", "--comments",  "--comments-file",
                                                       "--delay",  "--waveforms", "--data-format"};
        if (std::find(std::begin(kValued), std::end(kValued), option) == std::end(kValued) &&
            !IsConnectionOption(option)) {
            std::fprintf(stderr, "quarvel-cli capture: unknown option '%s'\n", argv[i]);
            return false;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "quarvel-cli capture: %s needs a value\n", argv[i]);
            return false;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (option == "--dir") {
            form.imageDir = value;
        } else if (option == "--name") {
            form.baseName = value;
        } else if (option == "--sequence") {
            // The form's box holds at most 8 characters.
            ok = std::strlen(value) <= 8;
            form.sequenceText = value;
        } else if (option == "--format") {
            form.imageExtension = quarvel::ascii::ToLower(value);
            if (!EncoderForExtension(form.imageExtension)) {
                std::fprintf(stderr,
                             "quarvel-cli capture: --format '%s' names no image format; use one "
                             "of: %s\n",
                             value, EncoderExtensionList().c_str());
                return false;
            }
        } else if (option == "--comments") {
            form.comments = value;
        } else if (option == "--comments-file") {
            form.commentsFile = value;
        } else if (option == "--delay") {
            ViUInt32 seconds = 0;
            ok = ParseNumber(value, 0, 6000, seconds);
            form.delay = seconds;
        } else if (IsConnectionOption(option)) {
            ok = ParseConnectionOption(option, value, connection);
        } else if (option == "--waveforms") {
            form.channels = SplitChannels(value);
            form.retrieveWaveforms = true;
            ok = !form.channels.empty();
        } else if (option == "--data-format") {
            const std::string format = quarvel::ascii::ToLower(value);
            ok = format == "csv" || format == "dirfile";
            form.dataFormat = format == "dirfile" ? DataFormat::Dirfile : DataFormat::Csv;
        }
        if (!ok) {
            std::fprintf(stderr, "quarvel-cli capture: invalid value for %s: '%s'\n", argv[i - 1],
                         value);
            return false;
        }
    }
    if (!haveAddress) {
        std::fputs(USAGE, stderr);
        return false;
    }
    return true;
}

} // namespace

int RunCaptureCommand(int argc, char** argv) {
    ConsoleWindow window;
    ConnectionOptions connection;
    if (!ParseArguments(argc, argv, window.form, connection))
        return 2;

    // Files go into the folder given, made first when it is missing.
    std::string why;
    if (!MakeFolders(window.form.imageDir, why)) {
        std::fprintf(stderr, "quarvel-cli capture: cannot use the folder '%s': %s\n",
                     window.form.imageDir.c_str(), why.c_str());
        return 1;
    }

    CCaptureController controller(window);
    if (!ApplyResourceManagerOptions(controller.Connection().GetResourceManager(), connection,
                                     "capture"))
        return 1;
    controller.ToggleConnection();
    if (!controller.HasDriver())
        return 1;
    if (!ApplySessionTimeout(controller.Connection().GetSession(), connection, "capture"))
        return 1;

    controller.StartOrAbortCapture();
    while (controller.IsCountdownRunning()) {
        if (window.progress.Interrupted()) {
            controller.StartOrAbortCapture(); // aborts the countdown
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        controller.OnCountdownTick();
    }
    if (window.progress.Interrupted())
        return quarvel::cli::kExitInterrupted;
    return controller.LastCaptureSucceeded() ? 0 : 1;
}
