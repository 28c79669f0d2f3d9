#pragma once
#include <QByteArrayView>
#include <QImage>
#include <QImageIOHandler>

namespace platform::decode {

// True for data that starts with a JPEG start-of-image marker.
[[nodiscard]] bool looksLikeJpeg(QByteArrayView head);

// Decodes a JPEG with libjpeg-turbo straight into the final 32-bit picture, turned as
// `orientation` says and tagged with its ICC profile. The pixels are the ones Qt's reader
// gives for the same file (the same libjpeg, the same DCT and upsampling); only the 24-bit rows
// and the conversion after them are saved. A null image means libjpeg refused the file or it
// holds inks (CMYK, YCCK): the caller then leaves it to Qt's reader, which also reports why.
[[nodiscard]] QImage decodeJpeg(QByteArrayView data, QImageIOHandler::Transformations orientation);

} // namespace platform::decode
