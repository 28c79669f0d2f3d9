#include "support/Fixtures.h"

#include <QFile>
#include <QImageWriter>
#include <QTest>

namespace fixtures {

QImage pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb((x * 7 + y * 3) & 0xFF, (x * 13 + y * 29) & 0xFF, (x ^ y) & 0xFF);
    }
    return image;
}

void write(const QImage& image, const QString& path, const char* format)
{
    QImageWriter writer(path, format);
    QVERIFY2(writer.write(image), qPrintable(writer.errorString()));
}

void writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(text), text.size());
}

} // namespace fixtures
