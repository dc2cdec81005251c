#pragma once

// Screen images of the simulated instruments, drawn with QPainter on a QImage
// (graticule, traces, labels) and encoded as the instruments deliver them.
// Rendering is deterministic: the same scene gives the same bytes, so tests
// can compare what a client received with what the simulator served.

#include <QImage>

#include <cstddef>
#include <functional>
#include <map>
#include <string>

namespace quarvel::sim {

struct ScreenScene {
    enum class Kind { Oscilloscope, SpectrumAnalyzer };
    Kind kind = Kind::Oscilloscope;
    int width = 800;
    int height = 480;
    std::string title;  // model name, drawn in the top bar
    std::string status; // run state word ("RUN", "STOP", ...)
    int traces = 4;     // number of channels or traces drawn
    bool inverted = false;
    bool grayscale = false;
    std::string footer; // extra text in the bottom bar (window title, time stamp, ...)
};

QImage RenderScreen(const ScreenScene& scene);

// The oscilloscope trace `channel` (0-based) at fraction u (0..1) of the
// screen width, in divisions around the trace's level: what RenderScreen
// draws, so waveform data served beside a picture shows the same signals.
double ScreenTraceValue(int channel, double u);

// Image files as byte strings.
std::string EncodePng(const QImage& image);
std::string EncodeBmp24(const QImage& image);
// 8-bit BMP with a grey-scale palette.
std::string EncodeBmp8Gray(const QImage& image);

// Remembers the last few encoded images by a key describing the state they
// show, so repeated screenshots of an unchanged screen cost nothing.
class ImageCache {
public:
    const std::string& Get(const std::string& key, const std::function<std::string()>& render);

private:
    static constexpr std::size_t kMaxEntries = 8;
    std::map<std::string, std::string> m_images;
};

} // namespace quarvel::sim
