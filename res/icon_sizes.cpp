// Build-time helper: writes the application icon at the sizes of the hicolor
// icon theme, from the one drawn icon, so that menus and docks get a
// downscaled picture instead of one their toolkit scales at run time.
//
// Usage: quarvel-icon-sizes SOURCE.png OUTDIR SIZE...
// writes OUTDIR/SIZExSIZE/apps/<source name> for each size.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <cstdio>

namespace {

constexpr int kUsageError = 2;

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: quarvel-icon-sizes SOURCE.png OUTDIR SIZE...\n", stderr);
        return kUsageError;
    }
    const QString sourcePath = QString::fromLocal8Bit(argv[1]);
    const QImage source(sourcePath);
    if (source.isNull()) {
        std::fprintf(stderr, "quarvel-icon-sizes: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString name = QFileInfo(sourcePath).fileName();
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        // Upscaling would only blur the drawing: the theme's larger sizes are
        // left to the source size.
        if (!ok || size <= 0 || size > source.width() || size > source.height()) {
            std::fprintf(stderr, "quarvel-icon-sizes: unusable size %s\n", argv[i]);
            return kUsageError;
        }
        const QString dir =
            QString::fromLocal8Bit(argv[2]) + QStringLiteral("/%1x%1/apps").arg(size);
        const QImage scaled =
            size == source.width()
                ? source
                : source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!QDir().mkpath(dir) || !scaled.save(dir + QLatin1Char('/') + name, "PNG")) {
            std::fprintf(stderr, "quarvel-icon-sizes: cannot write the %dx%d icon\n", size, size);
            return 1;
        }
    }
    return 0;
}
