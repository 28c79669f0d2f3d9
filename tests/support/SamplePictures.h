#pragma once

#include <QByteArray>
#include <QImage>

// Small pictures and hostile headers made by our own code, for the tests and
// the fuzzer's seed corpus.  Only QtGui is needed, so the fuzz build can use
// them without the test library.
namespace samples {

// `image` as Qt's writer for `format` ("png", "jpeg", "bmp", "ico", "tiff",
// "webp", ...) produces it; empty when no writer for that format is there.
[[nodiscard]] QByteArray encoded(const QImage& image, const char* format, int quality = -1);

// `image` as a GIF in four shades of grey.  Qt reads GIF but cannot write it,
// so this writes the LZW stream uncompressed: a clear code after every two
// pixels keeps the code width at three bits, which every reader accepts.
[[nodiscard]] QByteArray gif(const QImage& image);

// Files whose header claims `width` x `height` with (almost) no pixel data
// behind it: what a damaged or hostile file looks like to a reader that
// trusts the header.
[[nodiscard]] QByteArray pngClaiming(quint32 width, quint32 height);
[[nodiscard]] QByteArray bmpClaiming(qint32 width, qint32 height, quint16 bitsPerPixel = 24);
[[nodiscard]] QByteArray gifClaiming(quint16 width, quint16 height);
[[nodiscard]] QByteArray jpegClaiming(quint16 width, quint16 height);

} // namespace samples
