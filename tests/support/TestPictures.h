#pragma once
#include <QByteArray>
#include <QImage>

// Pictures for the tests, made on the spot from our own pixels.
namespace testpictures {

// `size` filled with `field`, its top-left quarter with `mark`: size and corners tell whether
// it came out whole and upright.
[[nodiscard]] QImage probe(QSize size, QRgb mark, QRgb field);
// Every pixel unlike its neighbours, so that a part taken from the wrong
// place, or resampled where it should not be, shows.
[[nodiscard]] QImage noise(int width, int height);
// Qt's writer ("png", "jpeg", "bmp", "tiff", "webp") at best quality.
[[nodiscard]] QByteArray encode(const QImage& image, const char* format);

} // namespace testpictures
