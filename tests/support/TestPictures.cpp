#include "support/TestPictures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

namespace testpictures {

QImage probe(QSize size, QRgb mark, QRgb field)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(field);
    for (int y = 0; y < size.height() / 2; ++y)
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), size.width() / 2, mark);
    return image;
}

QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32); // rows without padding
    auto* pixels = reinterpret_cast<QRgb*>(image.bits());
    quint32 state = 12345;
    for (qsizetype i = 0; i < qsizetype(width) * height && pixels; ++i)
        pixels[i] = 0xFF000000u | ((state = state * 1664525u + 1013904223u) >> 8);
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
    if (!kMakesPictures) return {};
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
    return QImage::fromData(made(
        QString::asprintf(
            "convert 1 -filter point -interpolate bilinear -virtual-pixel edge -define "
            "distort:viewport=%dx%d -distort AffineProjection %.17g,0,0,%.17g,%.17g,%.17g bmp:out",
            size.width(), size.height(), sx, sy, -part.x() * sx, -part.y() * sy),
        {picture}));
}

QByteArray turnedJpeg(const QImage& picture, const QString& turn)
{
    return made("convert 1 " + turn + " +repage tif:t && vips jpegsave t out --Q 100", {picture});
}

QImage shownByQt(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.colorSpace().isValid()) image.convertToColorSpace(QColorSpace::SRgb);
    return image.convertToFormat(QImage::Format_RGB32);
}

bool written(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int difference(const QImage& a, const QImage& b)
{
    int worst = a.size() == b.size() ? 0 : 256;
    for (int y = 0; y < a.height() && worst < 256; ++y)
        for (int x = 0; x < a.width() * 3; ++x) // each channel of each pixel
            worst = std::max(worst, std::abs(int(a.pixel(x / 3, y) >> x % 3 * 8 & 0xFF) -
                                             int(b.pixel(x / 3, y) >> x % 3 * 8 & 0xFF)));
    return worst;
}

} // namespace testpictures
