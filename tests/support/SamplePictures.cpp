#include "support/SamplePictures.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>

namespace samples {
namespace {

void putLE16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

void putLE32(QByteArray& out, quint32 value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((value >> shift) & 0xFF));
}

void putBE32(QByteArray& out, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void pngChunk(QByteArray& out, const char* type, const QByteArray& body)
{
    putBE32(out, quint32(body.size()));
    const QByteArray typed = QByteArray(type) + body;
    out += typed;
    putBE32(out, crc32(typed));
}

QByteArray gifHeader(quint16 width, quint16 height)
{
    QByteArray out("GIF89a");
    putLE16(out, width);
    putLE16(out, height);
    out.append(char(0xF1)); // a global table of four colours
    out.append(char(0));
    out.append(char(0));
    for (const int level : {0, 85, 170, 255})
        out.append(3, char(level));
    out.append(char(0x2C)); // the one image, covering the screen
    putLE16(out, 0);
    putLE16(out, 0);
    putLE16(out, width);
    putLE16(out, height);
    out.append(char(0));
    return out;
}

} // namespace

QByteArray encoded(const QImage& image, const char* format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    return writer.write(image) ? bytes : QByteArray();
}

QByteArray gif(const QImage& image)
{
    QByteArray out = gifHeader(quint16(image.width()), quint16(image.height()));
    constexpr int MinCodeSize = 2, Clear = 4, End = 5, Width = 3;
    out.append(char(MinCodeSize));

    QByteArray packed;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= quint32(code) << count;
        count += Width;
        while (count >= 8) {
            packed.append(char(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    };
    int sinceClear = 2;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (sinceClear == 2) {
                put(Clear);
                sinceClear = 0;
            }
            put(qGray(image.pixel(x, y)) / 64);
            ++sinceClear;
        }
    }
    put(End);
    if (count > 0) packed.append(char(bits & 0xFF));

    for (qsizetype at = 0; at < packed.size(); at += 255) {
        const QByteArray block = packed.mid(at, 255);
        out.append(char(block.size()));
        out += block;
    }
    out.append(char(0));
    out.append(char(0x3B));
    return out;
}

QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray out("\x89PNG\r\n\x1A\n", 8);
    QByteArray header;
    putBE32(header, width);
    putBE32(header, height);
    header.append("\x08\x02\x00\x00\x00", 5); // 8-bit RGB, not interlaced
    pngChunk(out, "IHDR", header);
    pngChunk(out, "IDAT", QByteArray("\x78\x9C\x63\x00\x00\x00\x01\x00\x01", 9));
    pngChunk(out, "IEND", QByteArray());
    return out;
}

QByteArray bmpClaiming(qint32 width, qint32 height, quint16 bitsPerPixel)
{
    QByteArray out("BM");
    putLE32(out, 54);
    putLE32(out, 0);
    putLE32(out, 54);
    putLE32(out, 40);
    putLE32(out, quint32(width));
    putLE32(out, quint32(height));
    putLE16(out, 1);
    putLE16(out, bitsPerPixel);
    for (int i = 0; i < 6; ++i)
        putLE32(out, 0);
    if (bitsPerPixel <= 8) { // a black and white palette
        for (const quint32 colour : {0x000000u, 0xFFFFFFu})
            putLE32(out, colour);
        out.append(4 * ((1 << bitsPerPixel) - 2), char(0));
    }
    const quint32 offset = quint32(out.size());
    out[10] = char(offset & 0xFF);
    out[11] = char((offset >> 8) & 0xFF);
    out.append(16, char(0x7F));
    return out;
}

QByteArray gifClaiming(quint16 width, quint16 height)
{
    QByteArray out = gifHeader(width, height);
    out.append("\x02\x02\x4C\x01\x00\x3B", 6);
    return out;
}

QByteArray jpegClaiming(quint16 width, quint16 height)
{
    QImage grey(8, 8, QImage::Format_RGB32);
    grey.fill(Qt::gray);
    QByteArray out = encoded(grey, "jpeg");
    const qsizetype frame = out.indexOf(QByteArray("\xFF\xC0", 2));
    if (frame < 0) return QByteArray();
    qToBigEndian(height, out.data() + frame + 5);
    qToBigEndian(width, out.data() + frame + 7);
    return out;
}

} // namespace samples
