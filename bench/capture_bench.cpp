// One capture of an 800 x 480 screen (the simulated Rigol's BMP) through the
// capture controller: screenshot transfer over a real socket, decode, save as
// PNG, comments entry. Reports the median per capture and the split between
// transfer, decode and encode. Target: median below 100 ms.

#include "bench/bench_sim.h"
#include "capture/capture_controller.h"
#include "capture/comments_file.h"
#include "capture/image_codec.h"

#include <benchmark/benchmark.h>

#include <QImage>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using quarvel::bench::BenchSim;
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The simulated Rigol on a free loopback port, nothing else.
std::vector<std::string> RigolArgs() {
    return {"--instrument",      "rigol", "--socket-port", "0",
            "--portmapper-port", "none",  "--hislip-port", "none"};
}

class BenchForm : public ICaptureForm {
public:
    std::string address;
    std::string dir;
    std::string sequence = "0001";
    std::string GetVisaAddress() const override { return address; }
    std::string GetImageDir() const override { return dir; }
    std::string GetBaseName() const override { return "Screenshot"; }
    std::string GetSequenceText() const override { return sequence; }
    std::string GetCommentsFile() const override { return "Comments.txt"; }
    std::string GetComments() const override { return "bench capture"; }
    bool GetInvertedGraticule() const override { return false; }
    bool GetStopWhileCapturing() const override { return false; }
    bool GetSaveIdnInComments() const override { return true; }
    std::uint32_t GetCaptureDelay() const override { return 0; }
    int GetSaveModeIndex() const override { return SAVE_MODE_SEQUENTIAL; }
    DataFormat GetDataFormat() const override { return DataFormat::Dirfile; }
    bool IsRetrieveWaveformsChecked() const override { return false; }
    int GetImageFormatIndex() const override { return -1; }
    std::string GetImageExtension() const override { return "png"; }
    void SetSequence(std::uint32_t, const std::string& text) override { sequence = text; }
    void SetIdnText(const std::string&) override {}
    void SetConnected(bool) override {}
    void AddDirToHistory(const std::string&) override {}
    void ClearOfferedChannels() override {}
    void AddOfferedChannel(const std::string&) override {}
    void StashComments() override {}
    void SnapshotSelectedChannels() override {}
    std::vector<std::string> CopySelectedChannels() const override { return {}; }
    void SetCaptureButtonCaption(const std::string&) override {}
};

class BenchWindow : public ICaptureWindow {
public:
    BenchForm form;
    std::string lastStatus;
    ICaptureForm& Form() override { return form; }
    void SetStatusText(const std::string& text) override { lastStatus = text; }
    void ShowMessage(const std::string&, MessageIcon) override {}
    bool AskSaveFileName(const SaveDialogRequest&, std::string&) override { return false; }
    bool PutImageOnClipboard(const QImage&, std::string&) override { return false; }
    void ShowPicture(const QImage*) override {}
    void StartCountdownTimer() override {}
    void StopCountdownTimer() override {}
};

std::string MakeTempDir() {
    char pattern[] = "/tmp/quarvel-capture-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? made : "";
}

void RemoveTree(const std::string& dir) {
    if (!dir.empty())
        std::system(("rm -rf '" + dir + "'").c_str());
}

// The whole capture as the user triggers it.
void BM_CaptureToPng(benchmark::State& state) {
    const BenchSim sim(RigolArgs(), {"socket"});
    if (sim.SocketResource().empty()) {
        state.SkipWithError("quarvel-sim did not start");
        return;
    }
    const std::string dir = MakeTempDir();
    BenchWindow window;
    window.form.address = sim.SocketResource();
    window.form.dir = dir;
    CCaptureController controller(window);
    controller.ToggleConnection();
    if (!controller.HasDriver()) {
        state.SkipWithError("no driver for the simulator");
        RemoveTree(dir);
        return;
    }
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        controller.CaptureNow();
        times.push_back(Milliseconds(Clock::now() - start));
        if (!controller.LastCaptureSucceeded()) {
            state.SkipWithError(window.lastStatus.c_str());
            break;
        }
    }
    state.counters["median_ms"] = Median(times);
    state.counters["width"] = controller.Picture().width();
    state.counters["height"] = controller.Picture().height();
    RemoveTree(dir);
}
BENCHMARK(BM_CaptureToPng)->Unit(benchmark::kMillisecond)->Iterations(40);

// The same work split into its phases.
void BM_CapturePhases(benchmark::State& state) {
    const BenchSim sim(RigolArgs(), {"socket"});
    CInstrConnection connection;
    if (sim.SocketResource().empty() || !connection.Open(sim.SocketResource()) ||
        !connection.QueryIdn() || !connection.CreateDriver()) {
        state.SkipWithError("cannot reach the simulator");
        return;
    }
    const std::string dir = MakeTempDir();
    std::vector<double> transfer, decode, encode, comments;
    int n = 0;
    for (auto _ : state) {
        ByteBuffer bytes;
        auto t0 = Clock::now();
        const bool fetched = connection.GetDriver()->GetScreenshot(bytes);
        auto t1 = Clock::now();
        QImage picture;
        const bool decoded =
            fetched && LoadFromMemory(bytes.data(), bytes.size(), picture) == CodecStatus::Ok;
        auto t2 = Clock::now();
        const std::string path = dir + "/shot-" + std::to_string(n++) + ".png";
        const bool saved = decoded && SaveByExtension(picture, path) == CodecStatus::Ok;
        auto t3 = Clock::now();
        AppendCommentsEntry(dir + "/Comments.txt",
                            {path, "", "bench capture", connection.GetIdn()});
        auto t4 = Clock::now();
        if (!saved) {
            state.SkipWithError("a phase failed");
            break;
        }
        transfer.push_back(Milliseconds(t1 - t0));
        decode.push_back(Milliseconds(t2 - t1));
        encode.push_back(Milliseconds(t3 - t2));
        comments.push_back(Milliseconds(t4 - t3));
    }
    state.counters["transfer_ms"] = Median(transfer);
    state.counters["decode_ms"] = Median(decode);
    state.counters["encode_ms"] = Median(encode);
    state.counters["comments_ms"] = Median(comments);
    RemoveTree(dir);
}
BENCHMARK(BM_CapturePhases)->Unit(benchmark::kMillisecond)->Iterations(40);

} // namespace

BENCHMARK_MAIN();
