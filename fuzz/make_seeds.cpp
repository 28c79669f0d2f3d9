// Writes the fuzzer's seeds: small pictures in every format the decoder reads, in the variants
// that take different paths through it, and headers that claim more than the file holds.

#include "support/TestPictures.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

using namespace testpictures;

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc != 2) return 2;
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(folder.path());
    const QImage picture = probe({13, 7}, qRgb(200, 30, 10), qRgb(20, 90, 240));
    QImage alpha = picture.convertToFormat(QImage::Format_ARGB32);
    alpha.setPixel(1, 1, qRgba(10, 20, 30, 40));
    const QList<std::pair<const char*, QByteArray>> seeds = {
        {"rgb.png", encode(picture, "png")},
        {"alpha.png", encode(alpha, "png")},
        {"gamma.png",
         withPngChunk(encode(picture, "png"), "gAMA", QByteArrayLiteral("\0\0\xb1\x8f"))},
        {"rgb.jpg", encode(picture, "jpeg")},
        {"turned.jpg", withExifOrientation(encode(picture, "jpeg"), 6)},
        {"rgb.bmp", encode(picture, "bmp")},
        {"565.bmp", bitfieldBmp({5, 3}, 16, {0xf800, 0x07e0, 0x001f}, 0xffff, 0x1234)},
        {"rgb.tiff", encode(alpha, "tiff")},
        {"rgb.webp", encode(alpha, "webp")},
        {"probe.wmf", wmf({13, 7}, qRgb(200, 30, 10), qRgb(20, 90, 240))},
        {"probe.emf", emf({13, 7}, qRgb(200, 30, 10), qRgb(20, 90, 240))},
        {"claims.png", claiming("png", 300, 200)},
        {"claims.gif", claiming("gif", 300, 200)},
        {"claims.jpg", claiming("jpeg", 300, 200)},
    };
    for (const auto& [name, bytes] : seeds) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) ||
            file.write(bytes) != bytes.size())
            std::fprintf(stderr, "seed %s not written\n", name);
    }
    return 0;
}
