// Writes the fuzzer's seed corpus: small pictures in every format the
// loader is meant to read, in the variants that take different paths
// through the readers (palette, grey, alpha, progressive, odd sizes), and
// headers that claim more than the file holds.

#include "tools/fixtures/SamplePictures.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace {

QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 255 / width, y * 255 / height, (x ^ y) * 16, 128 + x));
    return image;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(folder.path());

    const QImage colour = gradient(13, 7);
    const QImage opaque = colour.convertToFormat(QImage::Format_RGB32);
    const QList<std::pair<QString, QByteArray>> seeds = {
        {"rgb.png", samples::encoded(opaque, "png")},
        {"alpha.png", samples::encoded(colour, "png")},
        {"grey.png", samples::encoded(opaque.convertToFormat(QImage::Format_Grayscale8), "png")},
        {"palette.png", samples::encoded(opaque.convertToFormat(QImage::Format_Indexed8), "png")},
        {"mono.png", samples::encoded(opaque.convertToFormat(QImage::Format_Mono), "png")},
        {"sixteen.png", samples::encoded(opaque.convertToFormat(QImage::Format_RGBX64), "png")},
        {"low.jpg", samples::encoded(opaque, "jpeg", 20)},
        {"high.jpg",
         samples::encoded(gradient(17, 9).convertToFormat(QImage::Format_RGB32), "jpeg", 95)},
        {"grey.jpg", samples::encoded(opaque.convertToFormat(QImage::Format_Grayscale8), "jpeg")},
        {"picture.gif", samples::gif(opaque)},
        {"rgb.bmp", samples::encoded(opaque, "bmp")},
        {"palette.bmp", samples::encoded(opaque.convertToFormat(QImage::Format_Indexed8), "bmp")},
        {"mono.bmp", samples::encoded(opaque.convertToFormat(QImage::Format_Mono), "bmp")},
        {"icon.ico", samples::encoded(colour.scaled(16, 16), "ico")},
        {"picture.tiff", samples::encoded(opaque, "tiff")},
        {"alpha.tiff", samples::encoded(colour, "tiff")},
        {"lossy.webp", samples::encoded(opaque, "webp", 50)},
        {"lossless.webp", samples::encoded(colour, "webp", 100)},
        {"picture.ppm", samples::encoded(opaque, "ppm")},
        {"picture.xpm", samples::encoded(opaque.convertToFormat(QImage::Format_Indexed8), "xpm")},
        {"claims.png", samples::pngClaiming(300, 200)},
        {"claims.bmp", samples::bmpClaiming(300, -200)},
        {"claims.gif", samples::gifClaiming(300, 200)},
        {"claims.jpg", samples::jpegClaiming(300, 200)},
    };
    int written = 0;
    for (const auto& [name, bytes] : seeds) {
        if (bytes.isEmpty()) {
            std::fprintf(stderr, "no writer for %s here; seed left out\n", qPrintable(name));
            continue;
        }
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
        ++written;
    }
    std::printf("%d seeds in %s\n", written, qPrintable(folder.path()));
    return written > 0 ? 0 : 1;
}
