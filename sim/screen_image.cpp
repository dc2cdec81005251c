#include "sim/screen_image.h"

#include "sim/pixel_font.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace quarvel::sim {
namespace {

constexpr std::array<QRgb, 6> kTraceColours = {qRgb(255, 235, 0),  qRgb(0, 220, 0),
                                               qRgb(70, 140, 255), qRgb(255, 60, 60),
                                               qRgb(255, 140, 0),  qRgb(200, 80, 255)};

// Deterministic pseudo-noise (no global random state).
class Noise {
public:
    double Next() {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<double>(m_state >> 8) / 16777216.0 - 0.5;
    }

private:
    std::uint32_t m_state = 12345u;
};

void DrawGraticule(QPainter& p, const QRect& plot, int columns, int rows) {
    p.setPen(QPen(QColor(90, 90, 90), 1, Qt::DotLine));
    for (int i = 1; i < columns; ++i) {
        const int x = plot.left() + plot.width() * i / columns;
        p.drawLine(x, plot.top(), x, plot.bottom());
    }
    for (int i = 1; i < rows; ++i) {
        const int y = plot.top() + plot.height() * i / rows;
        p.drawLine(plot.left(), y, plot.right(), y);
    }
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
}

// Channel n: a sine, a square, a damped sine, a ramp, ... each on its own level.
double ScopeSample(int channel, double t) {
    constexpr double kPi = 3.14159265358979;
    switch (channel % 4) {
    case 0:
        return std::sin(2 * kPi * 2 * t);
    case 1:
        return std::sin(2 * kPi * 3 * t) >= 0 ? 0.6 : -0.6;
    case 2:
        return std::exp(-3 * t) * std::sin(2 * kPi * 8 * t);
    default:
        return 2 * (t * 4 - std::floor(t * 4)) - 1;
    }
}

void DrawScopeTraces(QPainter& p, const QRect& plot, int traces) {
    for (int c = 0; c < traces; ++c) {
        QPainterPath path;
        const double level = plot.top() + plot.height() * (c + 1) / (traces + 1.0);
        const double amplitude = plot.height() / (2.5 * (traces + 1));
        for (int x = 0; x <= plot.width(); x += 2) {
            const double y = level - amplitude * ScopeSample(c, double(x) / plot.width());
            if (x == 0)
                path.moveTo(plot.left() + x, y);
            else
                path.lineTo(plot.left() + x, y);
        }
        p.setPen(QPen(QColor(kTraceColours[c % kTraceColours.size()]), 2));
        p.drawPath(path);
    }
}

void DrawSpectrumTraces(QPainter& p, const QRect& plot, int traces) {
    Noise noise;
    constexpr std::array<double, 3> kPeaks = {0.25, 0.5, 0.72};
    for (int c = 0; c < traces; ++c) {
        QPainterPath path;
        for (int x = 0; x <= plot.width(); x += 2) {
            const double f = double(x) / plot.width();
            double level = 0.85 - 0.02 * c + 0.03 * noise.Next();
            for (std::size_t k = 0; k < kPeaks.size(); ++k) {
                const double d = (f - kPeaks[k]) * 80;
                level -= (0.6 - 0.15 * k) * std::exp(-d * d);
            }
            const double y = plot.top() + plot.height() * level;
            if (x == 0)
                path.moveTo(plot.left() + x, y);
            else
                path.lineTo(plot.left() + x, y);
        }
        p.setPen(QPen(QColor(kTraceColours[c % kTraceColours.size()]), 1));
        p.drawPath(path);
    }
}

void PutUint16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void PutUint32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// BITMAPFILEHEADER + BITMAPINFOHEADER for a bottom-up image.
std::string BmpHeaders(int width, int height, int bitsPerPixel, std::uint32_t paletteBytes,
                       std::uint32_t imageBytes) {
    std::string out;
    const std::uint32_t offset = 14 + 40 + paletteBytes;
    out += "BM";
    PutUint32(out, offset + imageBytes);
    PutUint32(out, 0);
    PutUint32(out, offset);
    PutUint32(out, 40);
    PutUint32(out, static_cast<std::uint32_t>(width));
    PutUint32(out, static_cast<std::uint32_t>(height));
    PutUint16(out, 1);
    PutUint16(out, static_cast<std::uint16_t>(bitsPerPixel));
    PutUint32(out, 0); // BI_RGB
    PutUint32(out, imageBytes);
    PutUint32(out, 3780); // 96 dpi
    PutUint32(out, 3780);
    PutUint32(out, bitsPerPixel == 8 ? 256 : 0);
    PutUint32(out, 0);
    return out;
}

} // namespace

QImage RenderScreen(const ScreenScene& scene) {
    QImage image(scene.width, scene.height, QImage::Format_RGB32);
    image.fill(QColor(0, 0, 0));
    QPainter p(&image);
    const int bar = std::max(16, scene.height / 16);
    const QRect plot(scene.width / 40, bar + scene.height / 40, scene.width - scene.width / 20,
                     scene.height - 2 * bar - scene.height / 20);

    // Labels in the built-in pixel font, about two thirds of the bar high.
    const int scale = std::max(1, bar * 2 / 3 / kGlyphRows);
    const int textTop = (bar - kGlyphRows * scale) / 2;

    p.fillRect(QRect(0, 0, scene.width, bar), QColor(40, 40, 60));
    DrawPixelText(p, 8, textTop, scene.title, scale, QColor(230, 230, 230));
    const bool running = scene.status == "RUN" || scene.status == "AUTO" || scene.status == "NORM";
    DrawPixelText(p, scene.width - 8 - PixelTextWidth(scene.status, scale), textTop, scene.status,
                  scale, running ? QColor(0, 230, 0) : QColor(255, 60, 60));

    if (scene.kind == ScreenScene::Kind::Oscilloscope) {
        DrawGraticule(p, plot, 10, 8);
        DrawScopeTraces(p, plot, scene.traces);
    } else {
        DrawGraticule(p, plot, 10, 10);
        DrawSpectrumTraces(p, plot, scene.traces);
    }

    p.fillRect(QRect(0, scene.height - bar, scene.width, bar), QColor(40, 40, 60));
    std::string footer;
    for (int c = 0; c < scene.traces; ++c) {
        footer += scene.kind == ScreenScene::Kind::Oscilloscope
                      ? std::to_string(c + 1) + ": 500mV/   "
                      : "Trc" + std::to_string(c + 1) + " RMS   ";
    }
    footer += scene.footer;
    DrawPixelText(p, 8, scene.height - bar + textTop, footer, scale, QColor(230, 230, 230));
    p.end();

    if (scene.grayscale)
        image =
            image.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
    if (scene.inverted)
        image.invertPixels();
    return image;
}

std::string EncodePng(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image.convertToFormat(QImage::Format_RGB888));
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string EncodeBmp24(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const int w = image.width();
    const int h = image.height();
    const std::uint32_t rowBytes = static_cast<std::uint32_t>((w * 3 + 3) / 4 * 4);
    std::string out = BmpHeaders(w, h, 24, 0, rowBytes * static_cast<std::uint32_t>(h));
    out.reserve(out.size() + rowBytes * static_cast<std::size_t>(h));
    for (int y = h - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        std::size_t written = 0;
        for (int x = 0; x < w; ++x) {
            out += static_cast<char>(qBlue(line[x]));
            out += static_cast<char>(qGreen(line[x]));
            out += static_cast<char>(qRed(line[x]));
            written += 3;
        }
        out.append(rowBytes - written, '\0');
    }
    return out;
}

std::string EncodeBmp8Gray(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_Grayscale8);
    const int w = image.width();
    const int h = image.height();
    const std::uint32_t rowBytes = static_cast<std::uint32_t>((w + 3) / 4 * 4);
    std::string out = BmpHeaders(w, h, 8, 1024, rowBytes * static_cast<std::uint32_t>(h));
    for (int i = 0; i < 256; ++i) {
        const char v = static_cast<char>(i);
        out += v;
        out += v;
        out += v;
        out += '\0';
    }
    for (int y = h - 1; y >= 0; --y) {
        out.append(reinterpret_cast<const char*>(image.constScanLine(y)),
                   static_cast<std::size_t>(w));
        out.append(rowBytes - static_cast<std::uint32_t>(w), '\0');
    }
    return out;
}

double ScreenTraceValue(int channel, double u) {
    return ScopeSample(channel, u);
}

const std::string& ImageCache::Get(const std::string& key,
                                   const std::function<std::string()>& render) {
    auto it = m_images.find(key);
    if (it != m_images.end())
        return it->second;
    if (m_images.size() >= kMaxEntries)
        m_images.clear();
    return m_images.emplace(key, render()).first->second;
}

} // namespace quarvel::sim
