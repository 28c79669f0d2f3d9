#include "platform/decode/Decoders.h"

#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>

#include <emf2svg.h>

#include <cstdlib>
#include <memory>

namespace platform::decode {
namespace {

struct Header
{
    QRectF bounds; // the drawing's extent, in the reference device's pixels
    QRectF frame;  // the picture's own frame, in the same pixels
    QSizeF pixels; // the frame at 96 dpi
};

qint32 i32(QByteArrayView b, qsizetype at)
{
    return qFromLittleEndian<qint32>(b.data() + at);
}

QRectF inclusiveRect(QByteArrayView b, qsizetype at, double scaleX = 1.0, double scaleY = 1.0)
{
    const double left = i32(b, at), top = i32(b, at + 4);
    const double right = i32(b, at + 8), bottom = i32(b, at + 12);
    return QRectF(left * scaleX, top * scaleY, (right - left) * scaleX, (bottom - top) * scaleY);
}

bool readHeader(QByteArrayView data, Header& header)
{
    const qint32 devicePixelsX = i32(data, 72), devicePixelsY = i32(data, 76);
    const qint32 deviceMmX = i32(data, 80), deviceMmY = i32(data, 84);
    if (devicePixelsX <= 0 || devicePixelsY <= 0 || deviceMmX <= 0 || deviceMmY <= 0) return false;
    header.bounds = inclusiveRect(data, 8);
    // The frame is counted in hundredths of a millimetre.
    header.frame = inclusiveRect(data, 24, devicePixelsX / (deviceMmX * 100.0),
                                 devicePixelsY / (deviceMmY * 100.0));
    constexpr double toPixels = 96.0 / 2540.0; // 96 dpi, from hundredths of a millimetre
    header.pixels = inclusiveRect(data, 24, toPixels, toPixels).size();
    return !header.pixels.isEmpty(); // and so is the frame, scaled from the same numbers
}

} // namespace

DecodedPicture decodeEmf(const QByteArray& data)
{
    Header header;
    if (!readHeader(data, header)) return failure(QStringLiteral("图元文件的头部已损坏"));

    // The converter only reads the buffer; its signature predates const. It answers 1 when it
    // has drawn the records, anything else when it gave up.
    generatorOptions options{};
    options.nameSpace = const_cast<char*>("");
    options.svgDelimiter = true;
    // EMF+ stays off: EMF+ files carry plain records for readers without EMF+.
    char* svg = nullptr;
    size_t svgSize = 0;
    const int drawn =
        emf2svg(const_cast<char*>(data.constData()), size_t(data.size()), &svg, &svgSize, &options);
    const std::unique_ptr<char, decltype(&std::free)> owned(svg, &std::free);
    if (drawn != 1 || !svg) return failure(QStringLiteral("图元文件已损坏"));

    QSvgRenderer renderer(QByteArray::fromRawData(svg, qsizetype(svgSize)));
    if (!renderer.isValid()) return failure(QStringLiteral("图元文件无法绘制"));
    // The converter draws the records from the bounds' top-left corner; showing the frame
    // instead keeps the margins around the drawing.
    renderer.setViewBox(header.frame.translated(-header.bounds.topLeft()));
    renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
    QImage image(drawingSize(header.pixels), QImage::Format_RGB32);
    if (image.isNull()) return failure(QStringLiteral("内存不足"));
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return {std::move(image), QString()};
}

} // namespace platform::decode
