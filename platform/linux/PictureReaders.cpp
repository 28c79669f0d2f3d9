// How the Linux build gets at picture files: opened only when they are regular files, and the
// PNGs and JPEGs that libpng and libjpeg-turbo read better or faster than Qt's readers.
#include "platform/SystemErrorText.h"
#include "platform/decode/Decoders.h"

#include <QImageReader>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::decode {
namespace {

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

} // namespace

// Opens `path` for reading only if it names a non-empty regular file (symbolic links are followed).
// Pipes, sockets and devices are turned away before anything could block on them.
// On failure `file` stays closed and the reason is returned; on success the result is empty.
QString openPictureFile(const QString& path, QFile& file)
{
    if (path.isEmpty()) return QStringLiteral("没有给出文件");
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

QImage readPngFirst(QFile& file, bool meansSrgb)
{
    if (file.peek(8) != QByteArrayView("\x89PNG\r\n\x1a\n", 8)) return {};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                             [](png_structp, png_const_charp) {}); // unheard
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    QImage read;
    if (info) png_set_read_fn(png, &file, readPngData);
    if (info && readPng(png, info)) {
        // The 16-bit colour and the paletted pictures that Qt would leave in their colours.
        const int type = png_get_color_type(png, info);
        if ((type & PNG_COLOR_MASK_COLOR) &&
            (png_get_bit_depth(png, info) == 16 || type == PNG_COLOR_TYPE_PALETTE) &&
            (meansSrgb || !png_get_valid(png, info, PNG_INFO_iCCP | PNG_INFO_gAMA | PNG_INFO_cHRM)))
            read = readPngWithLibpng(png, info);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return read;
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
    return decoded;
}

} // namespace platform::decode
