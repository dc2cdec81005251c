#include "capture/image_codec.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using quarvel::test::TempDir;

// The image encoded as the encoder for `extension` does it.
std::vector<std::uint8_t> Encode(const QImage& image, const char* extension) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(EncodeToMemory(image, *EncoderForExtension(extension), bytes), CodecStatus::Ok);
    return bytes;
}

QImage Quadrants(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           x < width / 2 ? (y < height / 2 ? 0xFFFF0000 : 0xFF00FF00)
                                         : (y < height / 2 ? 0xFF0000FF : 0xFFFFFFFF));
    return image;
}

// The format a file name asks for is its last component's extension; the
// format of bytes is what they are, whatever they are called; only a whole
// image decodes.
TEST(ImageCodec, FormatsByExtensionAndByContentAndOnlyWholeImagesDecode) {
    const std::vector<std::pair<std::string, std::string>> byPath = {
        {"shot.png", "png"}, {"/tmp/a.b/shot.JPG", "jpeg"}, {"x.tiff.bmp", "bmp"},
        {"shot", ""},        {"dir.png/shot", ""},          {"shot.png.txt", ""}};
    for (const auto& [path, format] : byPath) {
        const auto encoder = EncoderForPath(path);
        EXPECT_EQ(encoder ? encoder->qtFormat : "", format) << path;
    }
    const std::string list = EncoderExtensionList();
    EXPECT_NE(list.find("png"), std::string::npos) << list;
    EXPECT_NE(list.find("jpg, "), std::string::npos) << list;

    const QImage original = Quadrants(40, 30);
    for (const char* extension : {"png", "bmp", "ppm"}) {
        const std::vector<std::uint8_t> bytes = Encode(original, extension);
        EXPECT_EQ(DetectedFormat(bytes.data(), bytes.size()), extension);
        QImage back;
        ASSERT_EQ(LoadFromMemory(bytes.data(), bytes.size(), back), CodecStatus::Ok);
        EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), original) << extension;
    }
    const auto jpeg = Encode(original, "jpg");
    EXPECT_EQ(DetectedFormat(jpeg.data(), jpeg.size()), "jpeg");
    const std::string junk = "#800000123this is not an image";
    const auto* junkBytes = reinterpret_cast<const std::uint8_t*>(junk.data());
    EXPECT_EQ(DetectedFormat(junkBytes, junk.size()), "");
    QImage image = original;
    EXPECT_EQ(LoadFromMemory(junkBytes, junk.size(), image), CodecStatus::Fail);
    EXPECT_TRUE(image.isNull());
    auto truncated = Encode(original, "png");
    truncated.resize(truncated.size() / 3);
    EXPECT_EQ(LoadFromMemory(truncated.data(), truncated.size(), image), CodecStatus::Fail);
    EXPECT_EQ(LoadFromMemory(nullptr, 0, image), CodecStatus::Fail);
    std::vector<std::uint8_t> none = {1};
    EXPECT_EQ(EncodeToMemory(QImage(), *EncoderForExtension("png"), none), CodecStatus::Fail);
    EXPECT_TRUE(none.empty());
}

TEST(ImageCodec, FailedSavesLeaveNoFileBehind) {
    TempDir dir;
    const QImage image = Quadrants(8, 8);
    EXPECT_EQ(SaveByExtension(image, dir.File("shot.foo")), CodecStatus::Fail);
    EXPECT_EQ(SaveByExtension(image, dir.File("shot")), CodecStatus::Fail);
    EXPECT_EQ(SaveByExtension(image, ""), CodecStatus::Fail);
    EXPECT_EQ(SaveByExtension(image, dir.File("missing/shot.png")), CodecStatus::Fail);
    EXPECT_EQ(SaveByExtension(image, dir.File(std::string(300, 'n') + ".png")), CodecStatus::Fail);
    EXPECT_EQ(SaveByExtension(QImage(), dir.File("null.png")), CodecStatus::Fail);
    EXPECT_TRUE(quarvel::test::FileNamesIn(dir.Path()).empty());
}

} // namespace
