// How live the window stays during a long capture: the real main window
// (offscreen) captures from a simulated Rigol that answers the screen query
// after 3 s and sends its 1.1 MB image at 1 MB/s. A 5 ms timer keeps events
// coming; the longest gap between two events the application delivered
// during the capture is the figure (target: no gap over 100 ms). Also
// reported: the progress bar's last value (1000 = the whole image), and where
// the longest gap fell: while the transfer was under way, or after it (decode,
// display, PNG encoding and saving), so a regression can be told from load.
// A second case captures waveform data of several channels.

#include "bench/bench_sim.h"
#include "ui/main_frame.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Times every event the application delivers, and keeps the longest gap
// apart for the time before and after a mark (the end of the transfer).
class GapMeter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const qint64 now = m_clock.nsecsElapsed();
        if (m_last >= 0) {
            qint64& longest =
                m_markedAt >= 0 && m_last >= m_markedAt ? m_longestAfter : m_longestBefore;
            longest = std::max(longest, now - m_last);
        }
        m_last = now;
        return QObject::eventFilter(watched, event);
    }
    void Start() {
        m_clock.start();
        m_last = -1;
        m_markedAt = -1;
        m_longestBefore = 0;
        m_longestAfter = 0;
    }
    void Mark() {
        if (m_markedAt < 0)
            m_markedAt = m_clock.nsecsElapsed();
    }
    // The gap that spans the mark counts as before it.
    double LongestBeforeMs() const { return static_cast<double>(m_longestBefore) / 1e6; }
    double LongestAfterMs() const { return static_cast<double>(m_longestAfter) / 1e6; }

private:
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_markedAt = -1;
    qint64 m_longestBefore = 0;
    qint64 m_longestAfter = 0;
};

void BM_WindowDuringSlowCapture(benchmark::State& state) {
    // A Rigol that answers the screen query after 3 s and sends at 1 MB/s.
    const quarvel::bench::BenchSim sim({"--instrument", "rigol", "--socket-port", "0",
                                        "--portmapper-port", "none", "--hislip-port", "none",
                                        "--delay-ms", "3000", "--rate", "1000", "--fault-on",
                                        ":DISPlay:DATA?"},
                                       {"socket"});
    QTemporaryDir settings;
    QTemporaryDir shots;
    if (sim.SocketResource().empty() || !settings.isValid() || !shots.isValid()) {
        state.SkipWithError("simulator or temporary directories not available");
        return;
    }
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    CMainFrame frame;
    frame.show();
    auto* address = frame.findChild<QComboBox*>(QStringLiteral("visaAddressCombo"));
    auto* directory = frame.findChild<QComboBox*>(QStringLiteral("imageDirCombo"));
    auto* connect = frame.findChild<QPushButton*>(QStringLiteral("connectButton"));
    auto* capture = frame.findChild<QPushButton*>(QStringLiteral("captureButton"));
    address->setEditText(QString::fromStdString(sim.SocketResource()));
    directory->setEditText(shots.path());
    connect->click();
    if (!frame.Controller().HasDriver()) {
        state.SkipWithError("connect failed");
        return;
    }
    int lastBarValue = -1;
    GapMeter meter;
    QObject::connect(frame.TransferBar(), &QProgressBar::valueChanged, [&](int value) {
        if (frame.TransferBar()->maximum() > 0)
            lastBarValue = value;
        if (value == frame.TransferBar()->maximum() && value > 0)
            meter.Mark();
    });
    QTimer ticker;
    ticker.setInterval(5);
    ticker.start();
    qApp->installEventFilter(&meter);
    double during = 0;
    double after = 0;
    for (auto _ : state) {
        meter.Start();
        capture->click();
        during = std::max(during, meter.LongestBeforeMs());
        after = std::max(after, meter.LongestAfterMs());
    }
    qApp->removeEventFilter(&meter);
    state.counters["longest_gap_ms"] = std::max(during, after);
    state.counters["gap_in_transfer_ms"] = during;
    state.counters["gap_after_transfer_ms"] = after;
    state.counters["last_bar_value"] = lastBarValue;
    if (lastBarValue != 1000)
        state.SkipWithError("the progress bar did not reach the total");
}
BENCHMARK(BM_WindowDuringSlowCapture)->Iterations(2)->Unit(benchmark::kMillisecond);

// A capture with waveform data: four Rigol channels of 1 000 000 points
// (four pages each, 4 MB in all) as CSV beside the picture. The mark is the
// status "Saving waveform data...": the longest gap while the data is read
// (pages, their conversion into records) and while it is written.
void BM_WindowDuringDataCapture(benchmark::State& state) {
    const quarvel::bench::BenchSim sim({"--instrument", "rigol", "--socket-port", "0",
                                        "--portmapper-port", "none", "--hislip-port", "none",
                                        "--waveform-points", "1000000"},
                                       {"socket"});
    QTemporaryDir settings;
    QTemporaryDir shots;
    if (sim.SocketResource().empty() || !settings.isValid() || !shots.isValid()) {
        state.SkipWithError("simulator or temporary directories not available");
        return;
    }
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    CMainFrame frame;
    frame.show();
    frame.findChild<QComboBox*>(QStringLiteral("visaAddressCombo"))
        ->setEditText(QString::fromStdString(sim.SocketResource()));
    frame.findChild<QComboBox*>(QStringLiteral("imageDirCombo"))->setEditText(shots.path());
    frame.findChild<QPushButton*>(QStringLiteral("connectButton"))->click();
    if (!frame.Controller().HasDriver()) {
        state.SkipWithError("connect failed");
        return;
    }
    frame.findChild<QCheckBox*>(QStringLiteral("retrieveWaveformsCheck"))->setChecked(true);
    auto* channels = frame.findChild<QListWidget*>(QStringLiteral("channelList"));
    for (int i = 0; i < channels->count(); ++i)
        channels->item(i)->setCheckState(Qt::Checked);
    auto* capture = frame.findChild<QPushButton*>(QStringLiteral("captureButton"));
    GapMeter meter;
    QObject::connect(frame.statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
        if (text == QStringLiteral("Saving waveform data..."))
            meter.Mark();
    });
    QTimer ticker;
    ticker.setInterval(5);
    ticker.start();
    qApp->installEventFilter(&meter);
    double reading = 0;
    double saving = 0;
    for (auto _ : state) {
        meter.Start();
        capture->click();
        reading = std::max(reading, meter.LongestBeforeMs());
        saving = std::max(saving, meter.LongestAfterMs());
        QDir(shots.path()).removeRecursively();
        QDir().mkpath(shots.path());
    }
    qApp->removeEventFilter(&meter);
    state.counters["longest_gap_ms"] = std::max(reading, saving);
    state.counters["gap_reading_ms"] = reading;
    state.counters["gap_saving_ms"] = saving;
    if (!frame.Controller().LastCaptureSucceeded())
        state.SkipWithError(frame.statusBar()->currentMessage().toStdString().c_str());
}
BENCHMARK(BM_WindowDuringDataCapture)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
