#pragma once

#include "capture/image_encoder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QImage>

// The image codec services over QImage, QImageReader and QImageWriter.

// The values are the COM-style codes a failed load reports to the user
// ("Screenshot image load error 80004005").
enum class CodecStatus : std::uint32_t { Ok = 0, Fail = 0x80004005u };

// The encoders Qt offers, icon-like formats left out, in Qt's order.
std::vector<ImageEncoder> AvailableEncoders();

// The encoder whose extensions hold `extension` (any letter case), if any.
std::optional<ImageEncoder> EncoderForExtension(const std::string& extension);

// The encoder the extension of `path` (after the last "." of its last
// component) names, if any.
std::optional<ImageEncoder> EncoderForPath(const std::string& path);

// Every extension the encoders accept, in their order: "bmp, jpeg, jpg, png".
// What a message about an unknown extension lists.
std::string EncoderExtensionList();

// The encoder name Qt gives the format of encoded bytes ("png", "bmp"),
// lower case; empty when Qt does not recognise them.
std::string DetectedFormat(const std::uint8_t* data, std::size_t size);

// Encodes `image` with `encoder` into `bytes`. Fail when the encoder refuses it.
CodecStatus EncodeToMemory(const QImage& image, const ImageEncoder& encoder,
                           std::vector<std::uint8_t>& bytes);

// Decodes PNG or BMP (or any format Qt reads) bytes into `image`. Ok, or Fail
// with `image` null.
CodecStatus LoadFromMemory(const std::uint8_t* data, std::size_t size, QImage& image);

// A blank picture of the given size, with the format of `like` (or RGB32 when
// `like` is null). Null when the size is not positive.
QImage CreateBlank(int width, int height, const QImage& like);

// Draws the `srcWidth` x `srcHeight` rectangle at (`srcX`, `srcY`) of
// `source` stretched over the whole of `target`, with smooth scaling.
void DrawScaled(const QImage& source, int srcX, int srcY, int srcWidth, int srcHeight,
                QImage& target);

// Copies `source` unscaled onto `target` at its origin.
void BlitAt(const QImage& source, QImage& target);

// Writes `image` to `path` with the encoder whose extension equals the
// path's (from its last "."), case-insensitively. Fail when no
// encoder matches, the path is beyond the platform's limits or writing
// fails. The file appears under its name only when complete.
CodecStatus SaveByExtension(const QImage& image, const std::string& path);
