#include "support/TestPictures.h"

#include <QBuffer>

namespace testpictures {

QImage probe(QSize size, QRgb mark, QRgb field)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(field);
    for (int y = 0; y < size.height() / 2; ++y)
        for (int x = 0; x < size.width() / 2; ++x)
            image.setPixel(x, y, mark);
    return image;
}

QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = 0xFF000000u | (state >> 8);
        }
    }
    return image;
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return image.save(&buffer, format, 100) ? bytes : QByteArray(); // the writer opens the buffer
}

} // namespace testpictures
