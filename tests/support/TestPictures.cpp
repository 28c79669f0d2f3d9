#include "support/TestPictures.h"

#include <QBuffer>
#include <QImageWriter>
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

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = ~0u;
    for (const char c : bytes) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// The header of a placeable metafile: a frame of `w` x `h` units, `inch` of them to an inch.
QByteArray placeable(quint16 w, quint16 h, quint16 inch)
{
    const QByteArray out = words<quint32>({0x9AC6CDD7u}) + words<quint16>({0, 0, 0, w, h, inch, 0, 0});
    quint16 checksum = 0;
    for (int i = 0; i < out.size(); i += 2)
        checksum ^= qFromLittleEndian<quint16>(out.constData() + i);
    return out + words<quint16>({checksum});
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

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(100);
    return writer.write(image) ? bytes : QByteArray();
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

QByteArray wmf(QSize size, QRgb mark, QRgb field)
{
    const auto w = quint16(size.width() * 15), h = quint16(size.height() * 15); // twips
    QByteArray records;
    const auto record = [&](quint16 function, std::initializer_list<quint16> params) {
        records += words<quint32>({quint32(3 + params.size())}) + words<quint16>({function});
        records += words<quint16>(params);
    };
    record(0x020B, {0, 0});          // SetWindowOrg
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
    return placeable(w, h, 1440) + words<quint16>({1, 9, 0x0300}) +
           words<quint32>({quint32(9 + records.size() / 2)}) + words<quint16>({2}) +
           words<quint32>({8}) + words<quint16>({0}) + records;
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

QByteArray claiming(const char* format, quint32 width, quint32 height)
{
    const QByteArray name(format);
    QByteArray out = encode(probe({8, 8}, 0xff000000, 0xffffffff), format);
    if (name == "png") {
        qToBigEndian(width, out.data() + 16);
        qToBigEndian(height, out.data() + 20);
        qToBigEndian(crc32(out.mid(12, 17)), out.data() + 29); // over IHDR's type and body
    } else if (name == "bmp") {
        qToLittleEndian(width, out.data() + 18);
        qToLittleEndian(height, out.data() + 22);
    } else if (name == "jpeg") {
        const qsizetype frame = out.indexOf("\xff\xc0");
        qToBigEndian(quint16(height), out.data() + frame + 5);
        qToBigEndian(quint16(width), out.data() + frame + 7);
    } else if (name == "gif") {
        out = "GIF89a" + words<quint16>({quint16(width), quint16(height)}) +
              QByteArrayLiteral("\x80\0\0") + QByteArray(6, '\xff') +
              QByteArrayLiteral(",\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;");
    } else if (name == "wmf") {
        // The frame counted in inches: in twips it would not fit sixteen bits.
        out = placeable(quint16(width / 96), quint16(height / 96), 1) +
              wmf({8, 8}, 0xff000000, 0xffffffff).mid(22);
    } else if (name == "emf") {
        out = emf({8, 8}, 0xff000000, 0xffffffff);
        qToLittleEndian(width * 2540 / 96, out.data() + 32); // in hundredths of a millimetre
        qToLittleEndian(height * 2540 / 96, out.data() + 36);
    }
    return out;
}

} // namespace testpictures
