#include "support/TestPictures.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>

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

QByteArray made(const QString& command, const QList<QImage>& inputs)
{
    QTemporaryDir dir;
    for (int i = 0; i < inputs.size(); ++i)
        inputs[i].save(dir.filePath(QString::number(i + 1)), "png");
    const QString script = QStringLiteral("cd '%1' && %2").arg(dir.path(), command);
    QFile out(dir.filePath(QStringLiteral("out")));
    const bool ran = QProcess::execute(QStringLiteral("/bin/sh"), {"-c", script}) == 0;
    return ran && out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
}

QImage resampled(const QImage& picture, const QRectF& part, QSize size)
{
    const double sx = size.width() / part.width(), sy = size.height() / part.height();
    const QString command =
        QStringLiteral("convert 1 -filter point -interpolate bilinear -virtual-pixel edge -define "
                       "distort:viewport=%1x%2+0+0 -distort AffineProjection %3,0,0,%4,%5,%6 bmp:out")
            .arg(size.width())
            .arg(size.height())
            .arg(sx, 0, 'g', 17)
            .arg(sy, 0, 'g', 17)
            .arg(-part.x() * sx, 0, 'g', 17)
            .arg(-part.y() * sy, 0, 'g', 17);
    return QImage::fromData(made(command, {picture})).convertToFormat(QImage::Format_RGB32);
}

int difference(const QImage& a, const QImage& b)
{
    int worst = a.size() == b.size() ? 0 : 256;
    for (int y = 0; y < a.height() && worst < 256; ++y)
        for (int x = 0; x < a.width(); ++x)
            for (const int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(int(a.pixel(x, y) >> shift & 0xFF) -
                                                 int(b.pixel(x, y) >> shift & 0xFF)));
    return worst;
}

} // namespace testpictures
