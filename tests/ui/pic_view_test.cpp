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

TEST(PicView, StretchesThePictureOverTheWholePaneOrIsBlankWithoutOne) {
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

    // Without a picture, or with one a failed decode emptied, it is blank.
    CPicView empty;
    empty.resize(40, 40);
    const QColor background = empty.palette().color(empty.backgroundRole());
    EXPECT_EQ(empty.grab().toImage().pixelColor(35, 35), background);
    QImage emptied = HalfRedHalfBlue(40, 40);
    view.SetImage(&emptied);
    emptied = QImage();
    EXPECT_EQ(view.grab().toImage().pixelColor(5, 5), background);
}

} // namespace
