#include "ImageDecoder.h"

#include "SystemErrorText.h"
#include "decode/Decoders.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QPainter>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

using namespace decode;

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
    struct stat info = {};
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
    if (!hasAlpha) return image;
    // Only pictures decoded in their own process have alpha (JPEGs have none), so a second
    // buffer costs the window nothing. Over white, premultiplied pixels become exactly
    // colour + (255 - alpha).
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, image);
    return flat;
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
    DecodedPicture decoded = success(std::move(result.image));
    decoded.turn = result.turn;
    return decoded;
}

// Qt's reader explains itself in English unless a translator is installed; the user reads ours.
DecodedPicture readerFailure(const QImageReader& reader)
{
    static_assert(QImageReader::InvalidDataError == 4); // the last of ImageReaderError
    static constexpr const char* reasons[] = {"图片无法解码", "图片无法解码", "读取文件出错",
                                              "无法识别的图片格式", "图片数据已损坏"};
    return failure(QString::fromUtf8(reasons[std::clamp(int(reader.error()), 0, 4)]));
}

// An icon file holds the same picture at several sizes; the largest one is the picture, and
// among equally large entries the deepest one. Only the chosen entry is decoded, so a damaged
// largest entry fails instead of quietly giving a smaller picture.
DecodedPicture readLargestIcon(QImageReader& reader)
{
    int best = -1;
    std::pair<qint64, int> bestAreaAndDepth{0, 0};
    for (int i = 0; i < reader.imageCount(); ++i) {
        if (!reader.jumpToImage(i)) break;
        const QSize size = reader.size();
        const std::pair<qint64, int> areaAndDepth{
            qint64(size.width()) * size.height(),
            QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel()};
        if (areaAndDepth > bestAreaAndDepth) {
            best = i;
            bestAreaAndDepth = areaAndDepth;
        }
    }
    QImage image;
    if (best < 0 || !reader.jumpToImage(best) || !reader.read(&image)) return readerFailure(reader);
    return success(std::move(image));
}

// White x, y, then red, green and blue x, y of sRGB (D65, BT.709 primaries), in units of
// 1/100000 as PNG stores them.
constexpr png_fixed_point kSrgbChromaticities[8] = {31270, 32900, 64000, 33000,
                                                    30000, 60000, 15000, 6000};

void readPngData(png_structp png, png_bytep data, size_t size)
{
    auto* file = static_cast<QFile*>(png_get_io_ptr(png));
    if (file->read(reinterpret_cast<char*>(data), qint64(size)) != qint64(size)) png_error(png, "");
}

// Reads the chunks before the pixels, or with `rows` the pixels. libpng reports a failure by
// jumping back here, where no C++ object with a destructor lives.
bool readPng(png_structp png, png_infop info, png_bytepp rows = nullptr)
{
    if (setjmp(png_jmpbuf(png))) return false;
    rows ? png_read_image(png, rows) : png_read_info(png, info);
    return true;
}

// True for a PNG whose colour chunks only restate sRGB: a gAMA of 1/2.2 (within the tolerance
// libpng itself applies before it bothers to correct gamma), cHRM absent or holding sRGB's
// primaries, and no iCCP or sRGB chunk. Such files are what most tools write for plain sRGB
// pixels; reading their 2.2 curve as a different transfer function than sRGB's would darken
// every shadow.
bool pngMeansSrgb(png_structp png, png_infop info)
{
    png_fixed_point gamma = 0, c[8] = {};
    // libpng corrects gamma only when file gamma times display gamma (2.2: 1/45455 in PNG's
    // units) strays more than 5 % from one, and takes chromaticities within 0.001 as sRGB's.
    if (png_get_valid(png, info, PNG_INFO_iCCP | PNG_INFO_sRGB) ||
        !png_get_gAMA_fixed(png, info, &gamma) ||
        std::llabs(gamma * 100000ll / 45455 - 100000) > 5000)
        return false;
    const bool chrm =
        png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]);
    for (int i = 0; chrm && i < 8; ++i)
        if (std::abs(c[i] - kSrgbChromaticities[i]) > 100) return false;
    return true;
}

// Qt's reader garbles a 16-bit colour key and shows an index past the palette as its first
// colour; libpng makes the key transparent and such an index black.
QImage readPngWithLibpng(png_structp png, png_infop info)
{
    const bool wide = png_get_bit_depth(png, info) == 16;
    const bool alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) ||
                       png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);         // palette indices to colours, a colour key to alpha
    if (wide) png_set_swap(png); // QImage's 16-bit channels are in the machine's byte order
    if (!alpha) png_set_filler(png, 0xffff, PNG_FILLER_AFTER);
    QImage image(int(png_get_image_width(png, info)), int(png_get_image_height(png, info)),
                 wide ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                      : (alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888));
    if (image.isNull()) return {};
    std::vector<png_bytep> rows(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows[size_t(y)] = image.scanLine(y);
    return readPng(png, info, rows.data()) ? image : QImage();
}

DecodedPicture readWithQt(QFile& file)
{
    bool pngInSrgb = false;
    if (file.peek(8) == QByteArrayView("\x89PNG\r\n\x1a\n", 8)) {
        png_structp png =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                   [](png_structp, png_const_charp) {}); // warnings unheard
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        QImage read;
        if (info) png_set_read_fn(png, &file, readPngData);
        if (info && readPng(png, info)) {
            pngInSrgb = pngMeansSrgb(png, info);
            // The 16-bit colour and the paletted pictures that Qt would leave in their colours.
            const int type = png_get_color_type(png, info);
            if ((type & PNG_COLOR_MASK_COLOR) &&
                (png_get_bit_depth(png, info) == 16 || type == PNG_COLOR_TYPE_PALETTE) &&
                (pngInSrgb ||
                 !png_get_valid(png, info, PNG_INFO_iCCP | PNG_INFO_gAMA | PNG_INFO_cHRM)))
                read = readPngWithLibpng(png, info);
        }
        png_destroy_read_struct(&png, &info, nullptr);
        if (!read.isNull()) return success(std::move(read));
        if (!file.seek(0)) return failure(QStringLiteral("读取文件出错"));
    }
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(kAllocationLimitMb);
    if (!reader.canRead()) return readerFailure(reader);
    const QByteArray format = reader.format();
    if ((format == "ico" || format == "cur") && reader.imageCount() > 1)
        return readLargestIcon(reader);

    QImage image;
    if (!reader.read(&image)) return readerFailure(reader);
    // Qt turns gAMA into a 2.2 curve, which is not sRGB's; the file meant sRGB.
    if (pngInSrgb) image.setColorSpace(QColorSpace());
    return success(std::move(image));
}

// True when a decoder has decided: a picture, or a reason there is none.
bool settled(const DecodedPicture& decoded)
{
    return !decoded.image.isNull() || !decoded.error.isEmpty();
}

// libjpeg-turbo straight into the final buffer, the rows as they are stored, and the EXIF
// orientation as the turn that shows them upright; unsettled for what libjpeg turns down, and
// with `oneScan` for JPEGs of several scans.
DecodedPicture readJpeg(QFile& file, bool oneScan)
{
    // Qt's reader reads only the header for it.
    const auto orientation = QImageReader(&file, "jpeg").transformation();
    DecodedPicture decoded;
    const int fd = ::dup(file.handle());
    std::FILE* stream = fd < 0 ? nullptr : ::fdopen(fd, "rb");
    if (!stream && fd >= 0) ::close(fd); // refused by fdopen, so still ours to close
    if (stream) {
        if (std::fseek(stream, 0, SEEK_SET) == 0) decoded = decodeJpeg(stream, oneScan);
        std::fclose(stream);
    }
    decoded.turn = orientation;
    return fromDecoded(std::move(decoded));
}

} // namespace

namespace decode {
DecodedPicture decodeOpenFile(QFile& file)
{
    // Qt has no reader for HEIF or metafiles, so those are recognised by their first bytes and
    // go to their own libraries, as do the JPEGs and bit-field bitmaps we read better than Qt;
    // everything else is Qt's to recognise.
    const QByteArray head = file.peek(kSniffBytes);
    if (DecodedPicture jpeg; looksLikeJpeg(head) && settled(jpeg = readJpeg(file, false)))
        return jpeg;
    if (!file.seek(0)) return failure(QStringLiteral("读取文件出错"));
    auto* decoder = looksLikeHeif(head) ? decodeHeif : looksLikeWmf(head) ? decodeWmf : nullptr;
    if (!decoder && looksLikeEmf(head)) decoder = decodeEmf;
    if (isBitfieldBmp(head)) decoder = decodeBitfieldBmp;
    if (!decoder) return readWithQt(file);
    const QByteArray data = file.readAll();
    if (data.size() != file.size()) return failure(QStringLiteral("读取文件出错"));
    return fromDecoded(decoder(data));
}
} // namespace decode

DecodedPicture decodePictureFile(const QString& path)
{
    QFile file;
    if (QString reason = openPictureFile(path, file); !reason.isEmpty())
        return failure(std::move(reason));
    // JPEGs of one scan, nearly every photo, are decoded here: libjpeg-turbo goes over their
    // pixels once, into the picture and no other buffer, so the allocation limit bounds both
    // time and memory. Every other picture, in a process of its own whose limits bound the
    // libraries that have no bounds of their own. The program's own pictures have no handle.
    if (file.handle() < 0) return decodeOpenFile(file);
    if (DecodedPicture jpeg; looksLikeJpeg(file.peek(3)) && settled(jpeg = readJpeg(file, true)))
        return jpeg;
    return decodeInChild(file.handle());
}

} // namespace platform
