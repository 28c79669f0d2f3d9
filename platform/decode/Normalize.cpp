#include "Normalize.h"

#include <QColorSpace>

namespace platform::decode {
namespace {

bool needsColourConversion(const QColorSpace& space)
{
    // Untagged pictures are taken as sRGB; a profile Qt cannot use is treated the same way.
    return space.isValid() && space != QColorSpace(QColorSpace::SRgb);
}

// Works on premultiplied pixels: over a white backdrop the result is simply
// colour + (255 - alpha), which needs no division and cannot overflow.
void flattenOntoWhite(QImage& image)
{
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = line[x];
            const int alpha = qAlpha(pixel);
            if (alpha == 255) continue;
            const int white = 255 - alpha;
            line[x] = qRgb(qRed(pixel) + white, qGreen(pixel) + white, qBlue(pixel) + white);
        }
    }
}

} // namespace

QImage toOpaqueSrgb(QImage image)
{
    if (image.isNull()) return image;
    const bool recolour = needsColourConversion(image.colorSpace());
    if (image.format() == QImage::Format_RGB32 && !recolour) return image;

    const bool hasAlpha = image.hasAlphaChannel();
    const QColorSpace srgb(QColorSpace::SRgb);
    if (recolour && image.depth() > 32) {
        // Sixteen-bit sources keep their precision through the colour transform and are only
        // reduced to eight bits afterwards.
        image.convertTo(hasAlpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        image.convertToColorSpace(srgb);
    }
    image.convertTo(hasAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (needsColourConversion(image.colorSpace())) image.convertToColorSpace(srgb);
    if (hasAlpha) {
        flattenOntoWhite(image);
        // Every alpha byte is now 0xff, so the buffer already is valid RGB32.
        image.reinterpretAsFormat(QImage::Format_RGB32);
    }
    return image;
}

} // namespace platform::decode
