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

// ImageMagick and vips make some fixtures and references; Windows builds' tests run without them.
#ifdef _WIN32
inline constexpr bool kMakesPictures = false;
#else
inline constexpr bool kMakesPictures = true;
#endif

// Runs the shell `command` in a fresh folder holding `inputs` as PNG files "1", "2"...; returns
// the bytes it left in a file "out", or nothing when it failed or cannot run.
[[nodiscard]] QByteArray made(const QString& command, const QList<QImage>& inputs);

// `part` of `picture` drawn at `size` by ImageMagick, independently of Qt: each pixel's centre
// mapped onto the part and read between its four nearest pixels, the edges repeated.
[[nodiscard]] QImage resampled(const QImage& picture, const QRectF& part, QSize size);
// `picture` as a JPEG stored as ImageMagick's `turn` ("-rotate 90 -orient LeftBottom") turns
// it, tagged with the EXIF orientation that shows it upright again.
[[nodiscard]] QByteArray turnedJpeg(const QImage& picture, const QString& turn);
// The picture at `path` as Qt's reader shows it: upright, sRGB, RGB32.
[[nodiscard]] QImage shownByQt(const QString& path);
// Writes `bytes` to `path`; false when it could not.
[[nodiscard]] bool written(const QString& path, const QByteArray& bytes);
// The largest difference of a colour channel between two pictures; 256 if their sizes differ.
[[nodiscard]] int difference(const QImage& a, const QImage& b);

} // namespace testpictures
