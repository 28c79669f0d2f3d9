#pragma once
#include "platform/ImageDecoder.h"

#include <QFile>

// The readers for what Qt cannot read, or not well enough. Each hands back its picture in
// whatever format and colour space suited its library, tagged with its colour space if known;
// decodePictureFile brings it into the one shape the program uses. `head` is the file's
// beginning, at least kSniffBytes of it when the file is that long.
namespace platform::decode {

// How much of a file's beginning is looked at to recognise formats Qt has no reader for.
inline constexpr qint64 kSniffBytes = 256;
// The first four bytes of a placeable metafile.
inline constexpr quint32 kPlaceableKey = 0x9AC6CDD7u;

// Large enough for a 200-megapixel panorama at four bytes a pixel, small enough that a forged
// header cannot make us reserve tens of gigabytes before the pixel data is even looked at.
inline constexpr int kAllocationLimitMb = 1024;

[[nodiscard]] inline bool fitsAllocationLimit(qint64 width, qint64 height)
{
    if (width <= 0 || height <= 0) return false;
    constexpr qint64 limitBytes = qint64(kAllocationLimitMb) * 1024 * 1024;
    return width * height <= limitBytes / 4;
}

// A metafile is a drawing, which can be drawn at any size: whatever its header asks for, it is
// drawn no larger than this on its longer side, keeping its shape. Photos keep their own size.
inline constexpr double kMaxDrawingSide = 8192;

// `size` in whole pixels within that cap; empty when either side is not positive.
[[nodiscard]] inline QSize drawingSize(QSizeF size)
{
    if (!(size.width() > 0 && size.height() > 0)) return {};
    size *= std::min(1.0, kMaxDrawingSide / std::max(size.width(), size.height()));
    return size.toSize().expandedTo({1, 1});
}

// No picture, and the reason the user reads.
inline DecodedPicture failure(QString reason)
{
    return {QImage(), std::move(reason)};
}

// This system's ways into picture files (platform/linux/, platform/windows/). Opens `path` for
// reading only if it names a non-empty regular file; else says why not.
[[nodiscard]] QString openPictureFile(const QString& path, QFile& file);

// A PNG that this system's own libpng reads better than Qt's reader, or null; `meansSrgb` when
// its colour chunks only restate sRGB.
[[nodiscard]] QImage readPngFirst(QFile& file, bool meansSrgb);

// A JPEG that this system's own libjpeg-turbo decodes, with its turn; unsettled (no picture and
// no reason) for what it leaves to Qt's reader, and with `oneScan` for JPEGs of several scans.
[[nodiscard]] DecodedPicture readJpeg(QFile& file, bool oneScan);

// Decodes the picture `file` holds, whatever its format, in this process.
[[nodiscard]] DecodedPicture decodeOpenFile(QFile& file);

// The same in a process of its own, under limits of time and memory, for the
// picture file open as `fd`. A picture that cannot be decoded within them is refused.
[[nodiscard]] DecodedPicture decodeInChild(int fd);

// True for data that starts with a JPEG start-of-image marker.
[[nodiscard]] bool looksLikeJpeg(QByteArrayView head);

// Decodes a JPEG with libjpeg-turbo straight into the final 32-bit picture, its rows as they
// are stored, tagged with its ICC profile. The pixels are the ones Qt's reader
// gives for the same file (the same libjpeg, the same DCT and upsampling); only the 24-bit rows
// and the conversion after them are saved. A null image without a reason means libjpeg refused
// the header, memory was short or the file holds inks (CMYK, YCCK): the caller then leaves it to
// Qt's reader, which also reports why. With `oneScan`, so is a JPEG of several scans
// (progressive): its cost is not one pass over the picture but as many as it has scans, and
// its buffers can be larger than the picture.
[[nodiscard]] DecodedPicture decodeJpeg(std::FILE* stream, bool oneScan);

// True for a 16- or 32-bit bitmap whose channels are bit fields (BI_BITFIELDS, or the implicit
// 5-5-5 of an uncompressed 16-bit bitmap).
[[nodiscard]] bool isBitfieldBmp(QByteArrayView head);

// Decodes such a bitmap, widening every channel to eight bits by bit replication, so that a
// field's zero stays 0 and its maximum becomes 255 (Qt's reader shifts instead, and white comes
// out (248,252,248)).
[[nodiscard]] DecodedPicture decodeBitfieldBmp(const QByteArray& data);

// True when the file starts with an ISO 'ftyp' box naming one of the HEIF image brands
// (as iPhones and other cameras write them).
[[nodiscard]] bool looksLikeHeif(QByteArrayView head);

// Decodes the primary image, with its rotation/mirroring applied and its colour profile attached.
[[nodiscard]] DecodedPicture decodeHeif(const QByteArray& data);

// True for a placeable metafile (0x9AC6CDD7 key) or one starting with a plain metafile header.
[[nodiscard]] bool looksLikeWmf(QByteArrayView head);

// Renders the metafile at its own size (96 dpi, capped as above) onto white.
[[nodiscard]] DecodedPicture decodeWmf(const QByteArray& data);

// True for an enhanced metafile: a header record (type 1) carrying the " EMF" signature.
[[nodiscard]] bool looksLikeEmf(QByteArrayView head);

// Draws the metafile onto white at the size of the frame its header gives (96 dpi, capped as
// above), so that its margins are kept as the author set them.
[[nodiscard]] DecodedPicture decodeEmf(const QByteArray& data);

} // namespace platform::decode
