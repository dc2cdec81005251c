#include "tests/ui/qt_app_fixture.h"
#include "ui/pic_view.h"

#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <gtest/gtest.h>

namespace {

QImage HalfRedHalfBlue(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, Qt::red);
    painter.fillRect(width / 2, 0, width - width / 2, height, Qt::blue);
    return image;
}

TEST(PicView, StretchesThePictureOverTheWholePaneWithoutKeepingItsProportions) {
    const QImage picture = HalfRedHalfBlue(800, 480);
    CPicView view;
    view.resize(400, 480);
    view.SetImage(&picture);
    const QImage shot = view.grab().toImage();
    // Squeezed to half its width: the colour boundary moves to x = 200 and
    // the picture reaches every edge (no letterbox).
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(190, 240), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(210, 240), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(399, 479), QColor(Qt::blue));

    view.resize(100, 30);
    const QImage small = view.grab().toImage();
    EXPECT_EQ(small.pixelColor(10, 0), QColor(Qt::red));
    EXPECT_EQ(small.pixelColor(90, 29), QColor(Qt::blue));
}

TEST(PicView, WithoutPictureOrWithAnEmptiedOneThePaneIsBlank) {
    QImage picture = HalfRedHalfBlue(40, 40);
    CPicView view;
    view.resize(40, 40);
    const QColor background = view.palette().color(view.backgroundRole());
    EXPECT_EQ(view.grab().toImage().pixelColor(35, 35), background);
    view.SetImage(&picture);
    picture = QImage(); // a failed decode empties the shown picture
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(shot.pixelColor(5, 5), background);
}

} // namespace
