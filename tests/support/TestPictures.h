#pragma once
#include <QByteArray>
#include <QImage>
#include <QStringList>

// Pictures for the tests, made on the spot from our own pixels: Qt's writers, a few formats
// byte by byte, and the command-line tools tools/packages.sh installs for the rest.
namespace testpictures {

// `size` filled with `field`, its top-left quarter with `mark`: size and corners tell whether
// it came out whole and upright.
[[nodiscard]] QImage probe(QSize size, QRgb mark, QRgb field);
// How a picture must be stored for a reader that applies EXIF `orientation` (1..8) to show it
// as `upright`.
[[nodiscard]] QImage storedFor(const QImage& upright, int orientation);

// Qt's writer ("png", "jpeg", "bmp", "tiff", "webp", "ppm") at best quality.
[[nodiscard]] QByteArray encode(const QImage& image, const char* format);
// Runs `program` with `arguments`, where "IN" is replaced by `input` saved as PNG (or PPM for
// cjpeg) and "OUT" by a file whose bytes are returned; empty when the tool failed.
[[nodiscard]] QByteArray viaTool(const QString& program, const QList<QImage>& inputs,
                                 QStringList arguments);

// A JPEG with an EXIF orientation (1..8) added.
[[nodiscard]] QByteArray withExifOrientation(const QByteArray& jpeg, int orientation);
// A PNG with chunk `type` added right after its header.
[[nodiscard]] QByteArray withPngChunk(const QByteArray& png, const char* type,
                                      const QByteArray& body);
// A top-down bit-field bitmap (16 or 32 bits; compression 3, or 0 for 16-bit 5-5-5 when
// `masks` is empty) whose pixels are the raw values `mark` and `field` laid out as in probe().
[[nodiscard]] QByteArray bitfieldBmp(QSize size, int bits, const QList<quint32>& masks,
                                     quint32 mark, quint32 field);
// Metafiles drawing probe() at 96 dpi: a placeable WMF in twips, an EMF on a 96-dpi device.
[[nodiscard]] QByteArray wmf(QSize size, QRgb mark, QRgb field);
[[nodiscard]] QByteArray emf(QSize size, QRgb mark, QRgb field);

// Small files whose headers claim about `width` x `height` pixels (below 65536, and for the
// metafiles at 96 dpi), with little or nothing after: "png", "bmp", "jpeg", "gif", "wmf", "emf".
[[nodiscard]] QByteArray claiming(const char* format, quint32 width, quint32 height);

} // namespace testpictures
