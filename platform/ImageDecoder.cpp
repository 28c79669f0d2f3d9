#include "ImageDecoder.h"

#include "SystemErrorText.h"
#include "decode/Decoders.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

using namespace decode;

// HEIF and the metafiles keep their whole file in memory while they are decoded; anything this
// large is not a photo or a drawing but a mistake.
constexpr qint64 kMaxWholeFileBytes = qint64(512) * 1024 * 1024;

QString describeType(const struct stat& info)
{
    if (S_ISDIR(info.st_mode)) return QStringLiteral("这是一个文件夹，不是图片文件");
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))
        return QStringLiteral("这是一个管道或套接字，不是图片文件");
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return QStringLiteral("这是一个设备，不是图片文件");
    if (!S_ISREG(info.st_mode)) return QStringLiteral("这不是普通文件");
    if (info.st_size == 0) return QStringLiteral("文件是空的");
    return {};
}

// Opens `path` for reading only if it names a non-empty regular file (symbolic links are followed).
// Pipes, sockets and devices are turned away before anything could block on them.
// On failure `file` stays closed and the reason is returned; on success the result is empty.
QString openPictureFile(const QString& path, QFile& file)
{
    if (path.isEmpty()) return QStringLiteral("没有给出文件");
    // Pictures stored inside the program (":/thanks.jpg") are Qt resources, not files on disk.
    if (path.startsWith(QLatin1String(":/"))) {
        file.setFileName(path);
        return file.open(QIODevice::ReadOnly) ? QString()
                                              : QStringLiteral("程序内置的图片无法读取");
    }
    const QByteArray native = QFile::encodeName(path);

    // Look before opening: opening a FIFO waits for a writer, and opening some devices has
    // side effects, so only regular files may get as far as open().
    struct stat info
    {
    };
    if (::stat(native.constData(), &info) != 0) return systemErrorText(errno);
    if (QString reason = describeType(info); !reason.isEmpty()) return reason;

    // O_NONBLOCK guards the window between stat() and open() in which the name could be swapped
    // for a FIFO; on a regular file it changes nothing.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return systemErrorText(errno);
    QString reason = ::fstat(fd, &info) == 0 ? describeType(info) : systemErrorText(errno);
    if (reason.isEmpty() && !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        reason = QStringLiteral("文件无法打开");
    if (!reason.isEmpty()) ::close(fd);
    return reason;
}

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

// Brings whatever a reader produced into the one shape the rest of the program handles:
// Format_RGB32, sRGB, every pixel opaque (transparency composited over white).
// An untagged or sRGB Format_RGB32 image is returned untouched, without a copy.
QImage toOpaqueSrgb(QImage image)
{
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

DecodedPicture success(QImage image)
{
    // Some of Qt's readers (MNG) report success with no picture.
    if (image.isNull()) return failure(QStringLiteral("图片无法解码"));
    return {toOpaqueSrgb(std::move(image)), QString()};
}

DecodedPicture fromDecoded(DecodedPicture result)
{
    if (result.image.isNull()) return failure(std::move(result.error));
    return success(std::move(result.image));
}

// Qt's reader explains itself in English unless a translator is installed; the user reads ours.
DecodedPicture readerFailure(const QImageReader& reader)
{
    switch (reader.error()) {
    case QImageReader::UnsupportedFormatError:
        return failure(QStringLiteral("无法识别的图片格式"));
    case QImageReader::DeviceError:
        return failure(QStringLiteral("读取文件出错"));
    case QImageReader::InvalidDataError:
        return failure(QStringLiteral("图片数据已损坏"));
    default:
        return failure(QStringLiteral("图片无法解码"));
    }
}

// An icon file holds the same picture at several sizes; the largest one is the picture, and
// among equally large entries the deepest one. Only the chosen entry is decoded, so a damaged
// largest entry fails instead of quietly giving a smaller picture.
DecodedPicture readLargestIcon(QImageReader& reader)
{
    int best = -1;
    qint64 bestArea = 0;
    int bestDepth = 0;
    for (int i = 0; i < reader.imageCount(); ++i) {
        if (!reader.jumpToImage(i)) break;
        const QSize size = reader.size();
        const qint64 area = qint64(size.width()) * size.height();
        const int depth = QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel();
        if (area > bestArea || (area == bestArea && depth > bestDepth)) {
            best = i;
            bestArea = area;
            bestDepth = depth;
        }
    }
    QImage image;
    if (best < 0 || !reader.jumpToImage(best) || !reader.read(&image)) return readerFailure(reader);
    return success(std::move(image));
}

// An uncompressed bitmap states how many bytes its rows take; a file far
// shorter than that is cut short or lies, and Qt would still allocate (and
// invent) the whole picture the header claims, up to the allocation limit.
bool bitmapHoldsItsRows(QFile& file)
{
    const QByteArray head = file.peek(34);
    if (head.size() < 34 || !head.startsWith("BM")) return true;
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(head.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(head.constData() + at); };
    const quint32 infoSize = u32(14);
    const quint32 compression = u32(30);
    if (infoSize < 40 || (compression != 0 && compression != 3)) // RLE packs rows
        return true;
    const qint64 width = qint32(u32(18));
    const qint64 height = std::abs(qint64(qint32(u32(22))));
    const qint64 rowBytes = (width * u16(28) + 31) / 32 * 4; // below 2^48: no overflow
    const qint64 available = file.size() - qint64(u32(10));
    if (width <= 0 || rowBytes == 0 || height == 0) return true;
    return available >= 0 && height <= available / rowBytes;
}

// A GIF whose screen has no pixels in one direction: Qt grows the screen to
// reach the frames, so forty bytes can ask for half a gigabyte.
bool gifHasAScreen(QFile& file)
{
    const QByteArray head = file.peek(10);
    if (head.size() < 10 || !head.startsWith("GIF8")) return true;
    return qFromLittleEndian<quint16>(head.constData() + 6) != 0 &&
           qFromLittleEndian<quint16>(head.constData() + 8) != 0;
}

// What libpng writes before the pixels rarely exceeds a few kilobytes; text chunks can be longer.
constexpr qint64 kPngHeadBytes = 256 * 1024;

DecodedPicture readWithQt(QFile& file)
{
    if (!bitmapHoldsItsRows(file)) return failure(QStringLiteral("位图文件比其头部声明的短"));
    if (!gifHasAScreen(file)) return failure(QStringLiteral("图片的宽度或高度为零"));
    const bool pngInSrgb = pngMeansSrgb(file.peek(kPngHeadBytes));
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(kAllocationLimitMb);
    if (!reader.canRead()) return readerFailure(reader);
    const QByteArray format = reader.format();
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1)
        return readLargestIcon(reader);
    if (const QSize size = reader.size();
        size.isValid() && !fitsAllocationLimit(size.width(), size.height()))
        return failure(QStringLiteral("图片尺寸过大"));

    QImage image;
    if (!reader.read(&image)) return readerFailure(reader);
    // Qt turns gAMA into a 2.2 curve, which is not sRGB's; the file meant sRGB.
    if (pngInSrgb) image.setColorSpace(QColorSpace());
    return success(std::move(image));
}

// libjpeg-turbo straight into the final buffer; Qt's reader for what it turns down.
DecodedPicture readJpeg(QFile& file)
{
    // Qt's reader reads only the header for the EXIF orientation.
    QImageIOHandler::Transformations orientation;
    {
        QImageReader header(&file, "jpeg");
        orientation = header.transformation();
    }
    QImage image;
    if (std::FILE* stream = ::fdopen(::dup(file.handle()), "rb")) {
        if (std::fseek(stream, 0, SEEK_SET) == 0) image = decodeJpeg(stream, orientation);
        std::fclose(stream);
    }
    if (!image.isNull()) return success(std::move(image));
    if (!file.seek(0)) return failure(QStringLiteral("读取文件出错"));
    return readWithQt(file);
}

} // namespace

DecodedPicture decodePictureFile(const QString& path)
{
    QFile file;
    if (QString reason = openPictureFile(path, file); !reason.isEmpty())
        return failure(std::move(reason));

    // Qt has no reader for HEIF or metafiles, so those are recognised by their first bytes and
    // go to their own libraries, as do the JPEGs and bit-field bitmaps we read better than Qt;
    // everything else is Qt's to recognise.
    const QByteArray head = file.peek(kSniffBytes);
    if (looksLikeJpeg(head)) return readJpeg(file);
    if (isBitfieldBmp(head)) return fromDecoded(decodeBitfieldBmp(file, head));
    auto* decoder = looksLikeHeif(head) ? decodeHeif : looksLikeWmf(head) ? decodeWmf : nullptr;
    if (!decoder && looksLikeEmf(head)) decoder = decodeEmf;
    if (!decoder) return readWithQt(file);

    if (file.size() > kMaxWholeFileBytes) return failure(QStringLiteral("文件太大"));
    const QByteArray data = file.readAll();
    if (data.size() != file.size()) return failure(QStringLiteral("读取文件出错"));
    return fromDecoded(decoder(data));
}

} // namespace platform
