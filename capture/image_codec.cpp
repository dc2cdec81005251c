#include "capture/image_codec.h"

#include "capture/paths.h"
#include "visa/ascii.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

// Formats that are containers of icons rather than pictures.
bool IsIconLike(const std::string& format) {
    return format == "ico" || format == "cur" || format == "icns";
}

// Several Qt names can denote one codec; they share one filter entry.
std::string CanonicalFormat(const std::string& format) {
    if (format == "jpg")
        return "jpeg";
    if (format == "tif")
        return "tiff";
    return format;
}

} // namespace

std::vector<ImageEncoder> AvailableEncoders() {
    std::vector<ImageEncoder> encoders;
    for (const QByteArray& name : QImageWriter::supportedImageFormats()) {
        const std::string format = quarvel::ascii::ToLower(name.toStdString());
        if (format.empty() || IsIconLike(format))
            continue;
        const std::string canonical = CanonicalFormat(format);
        auto it = std::find_if(encoders.begin(), encoders.end(),
                               [&](const ImageEncoder& e) { return e.qtFormat == canonical; });
        if (it == encoders.end()) {
            encoders.push_back({quarvel::ascii::ToUpper(canonical), {}, canonical});
            it = encoders.end() - 1;
        }
        if (std::find(it->extensions.begin(), it->extensions.end(), format) == it->extensions.end())
            it->extensions.push_back(format);
    }
    return encoders;
}

CodecStatus LoadFromMemory(const std::uint8_t* data, std::size_t size, QImage& image) {
    image = QImage();
    if (data == nullptr || size == 0 || size > static_cast<std::size_t>(INT32_MAX))
        return CodecStatus::Fail;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull())
        return CodecStatus::Fail;
    // Detach from the caller's bytes.
    image = decoded.copy();
    return CodecStatus::Ok;
}

QImage CreateBlank(int width, int height, const QImage& like) {
    if (width <= 0 || height <= 0)
        return {};
    QImage::Format format = like.isNull() ? QImage::Format_RGB32 : like.format();
    // Indexed and monochrome formats cannot be painted on.
    if (format == QImage::Format_Indexed8 || format == QImage::Format_Mono ||
        format == QImage::Format_MonoLSB || format == QImage::Format_Invalid)
        format = like.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage blank(width, height, format);
    blank.fill(Qt::black);
    return blank;
}

void DrawScaled(const QImage& source, int srcX, int srcY, int srcWidth, int srcHeight,
                QImage& target) {
    if (source.isNull() || target.isNull())
        return;
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRect(0, 0, target.width(), target.height()), source,
                      QRect(srcX, srcY, srcWidth, srcHeight));
}

void BlitAt(const QImage& source, QImage& target) {
    if (source.isNull() || target.isNull())
        return;
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, source);
}

std::optional<ImageEncoder> EncoderForExtension(const std::string& extension) {
    const std::string wanted = quarvel::ascii::ToLower(extension);
    for (ImageEncoder& encoder : AvailableEncoders())
        if (std::find(encoder.extensions.begin(), encoder.extensions.end(), wanted) !=
            encoder.extensions.end())
            return std::move(encoder);
    return std::nullopt;
}

std::optional<ImageEncoder> EncoderForPath(const std::string& path) {
    const std::string name = qpaths::FileNameOf(path);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return std::nullopt;
    return EncoderForExtension(name.substr(dot + 1));
}

std::string EncoderExtensionList() {
    std::string list;
    for (const ImageEncoder& encoder : AvailableEncoders())
        for (const std::string& extension : encoder.extensions)
            list += (list.empty() ? "" : ", ") + extension;
    return list;
}

std::string DetectedFormat(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0 || size > static_cast<std::size_t>(INT32_MAX))
        return {};
    QBuffer buffer;
    buffer.setData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    buffer.open(QIODevice::ReadOnly);
    return CanonicalFormat(
        quarvel::ascii::ToLower(QImageReader::imageFormat(&buffer).toStdString()));
}

CodecStatus EncodeToMemory(const QImage& image, const ImageEncoder& encoder,
                           std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (image.isNull())
        return CodecStatus::Fail;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, QByteArray::fromStdString(encoder.qtFormat));
    if (!writer.write(image))
        return CodecStatus::Fail;
    const QByteArray& encoded = buffer.data();
    bytes.assign(encoded.begin(), encoded.end());
    return CodecStatus::Ok;
}

CodecStatus SaveByExtension(const QImage& image, const std::string& path) {
    if (image.isNull() || !qpaths::IsWithinLimits(path))
        return CodecStatus::Fail;
    const std::optional<ImageEncoder> chosen = EncoderForPath(path);
    if (!chosen)
        return CodecStatus::Fail;

    // QSaveFile writes beside the target and renames on commit, so a failed
    // or interrupted write never leaves a partial file under the name.
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return CodecStatus::Fail;
    QImageWriter writer(&file, QByteArray::fromStdString(chosen->qtFormat));
    if (!writer.write(image)) {
        file.cancelWriting();
        return CodecStatus::Fail;
    }
    return file.commit() ? CodecStatus::Ok : CodecStatus::Fail;
}
