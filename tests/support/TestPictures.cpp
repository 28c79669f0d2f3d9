#include "support/TestPictures.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

namespace testpictures {
namespace {

template <typename T> QByteArray words(std::initializer_list<T> values)
{
    QByteArray out;
    for (T value : values) {
        char bytes[sizeof(T)];
        qToLittleEndian(value, bytes);
        out.append(bytes, sizeof(T));
    }
    return out;
}

quint32 colorRef(QRgb c)
{
    return quint32(qRed(c) | qGreen(c) << 8 | qBlue(c) << 16);
}

} // namespace

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
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format, 100) ? bytes
                                                                                 : QByteArray();
}

QByteArray made(const QString& command, const QList<QImage>& inputs)
{
    QTemporaryDir dir;
    for (int i = 0; i < inputs.size(); ++i)
        inputs[i].save(dir.filePath(QString::number(i + 1)), "png");
    QProcess shell;
    shell.setWorkingDirectory(dir.path());
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    QFile out(dir.filePath(QStringLiteral("out")));
    if (!shell.waitForFinished(60000) || shell.exitCode() != 0 || !out.open(QIODevice::ReadOnly))
        return {};
    return out.readAll();
}

QByteArray wmf(QSize size, QRgb mark, QRgb field, quint16 inch)
{
    const auto w = quint16(size.width() * inch / 96), h = quint16(size.height() * inch / 96);
    QByteArray records;
    const auto record = [&](quint16 function, std::initializer_list<quint16> params) {
        records += words<quint32>({quint32(3 + params.size())}) + words<quint16>({function});
        records += words<quint16>(params);
    };
    record(0x020C, {h, w});          // SetWindowExt
    record(0x02FA, {5, 0, 0, 0, 0}); // a null pen, object 0
    record(0x012D, {0});             // selected
    for (const auto& [colour, right, bottom] :
         {std::tuple{field, w, h}, {mark, quint16(w / 2), quint16(h / 2)}}) {
        const quint32 c = colorRef(colour);
        record(0x02FC, {0, quint16(c), quint16(c >> 16), 0}); // a solid brush, object 1
        record(0x012D, {1});
        record(0x041B, {quint16(bottom), quint16(right), 0, 0}); // Rectangle
        record(0x01F0, {1});
    }
    record(0, {});
    QByteArray out = words<quint32>({0x9AC6CDD7u}) + words<quint16>({0, 0, 0, w, h, inch, 0, 0});
    quint16 checksum = 0;
    for (int i = 0; i < out.size(); i += 2)
        checksum ^= qFromLittleEndian<quint16>(out.constData() + i);
    out += words<quint16>({checksum, 1, 9, 0x0300}) +
           words<quint32>({quint32(9 + records.size() / 2)});
    return out + words<quint16>({2}) + words<quint32>({8}) + words<quint16>({0}) + records;
}

QByteArray emf(QSize size, QRgb mark, QRgb field)
{
    QByteArray records;
    const auto record = [&](quint32 type, const QByteArray& body) {
        records += words<quint32>({type, quint32(8 + body.size())}) + body;
    };
    const auto w = qint32(size.width()), h = qint32(size.height());
    record(37, words<quint32>({0x80000008u})); // the stock null pen
    for (const auto& [colour, right, bottom] : {std::tuple{field, w, h}, {mark, w / 2, h / 2}}) {
        record(39, words<quint32>({1, 0, colorRef(colour), 0})); // a solid brush, object 1
        record(37, words<quint32>({1}));
        record(43, words<qint32>({0, 0, right, bottom})); // Rectangle
        record(40, words<quint32>({1}));                  // DeleteObject
    }
    record(14, words<quint32>({0, 16, 20}));
    // A 960 x 480 pixel device of 254 x 127 mm: 96 dpi, so the frame (in 0.01 mm) is the size.
    QByteArray header = words<qint32>({0, 0, w - 1, h - 1, 0, 0, w * 2540 / 96, h * 2540 / 96});
    header += words<quint32>({0x464D4520, 0x10000, quint32(88 + records.size()), 11, 2, 0, 0, 0});
    header += words<qint32>({960, 480, 254, 127});
    return words<quint32>({1, 88}) + header + records;
}

} // namespace testpictures
