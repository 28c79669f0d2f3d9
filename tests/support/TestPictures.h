#pragma once
#include <QByteArray>
#include <QImage>

// Pictures for the tests, made on the spot from our own pixels: Qt's writers, the command-line
// tools tools/packages.sh installs, and byte by byte what no tool writes.
namespace testpictures {

// `size` filled with `field`, its top-left quarter with `mark`: size and corners tell whether
// it came out whole and upright.
[[nodiscard]] QImage probe(QSize size, QRgb mark, QRgb field);
// Every pixel unlike its neighbours, so that a part taken from the wrong
// place, or resampled where it should not be, shows.
[[nodiscard]] QImage noise(int width, int height);
// Qt's writer ("png", "jpeg", "bmp", "tiff", "webp") at best quality.
[[nodiscard]] QByteArray encode(const QImage& image, const char* format);
// Runs the shell `command` in a fresh folder holding `inputs` as PNG files "1", "2"...; returns
// the bytes it left in a file "out", or nothing when it failed.
[[nodiscard]] QByteArray made(const QString& command, const QList<QImage>& inputs);

// Metafiles drawing probe() at 96 dpi: a placeable WMF of `inch` units an inch (twips unless
// that overflows), an EMF on a 96-dpi device.
[[nodiscard]] QByteArray wmf(QSize size, QRgb mark, QRgb field, quint16 inch = 1440);
[[nodiscard]] QByteArray emf(QSize size, QRgb mark, QRgb field);

} // namespace testpictures
