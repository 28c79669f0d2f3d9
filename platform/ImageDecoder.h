#pragma once
#include <QImageIOHandler>
namespace platform {
struct DecodedPicture
{
    QImage image;  // null on failure; otherwise Format_RGB32, opaque, sRGB, as stored
    QString error; // reason on failure (the reader's errorString() or ours), empty on success
    QImageIOHandler::Transformations turn = {}; // what shows `image` upright
};
// Reads and decodes the picture file at `path` once.
[[nodiscard]] DecodedPicture decodePictureFile(const QString& path);
} // namespace platform
