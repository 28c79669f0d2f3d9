#include "platform/StagedPictures.h"

#include "platform/RuntimeError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

struct StagedPictures::Staged
{
    QString path;
    QString temporary;
};

namespace {

RuntimeError::Number numberFor(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::PermissionsError:
        return RuntimeError::PermissionDenied;
    case QFileDevice::OpenError:
        return RuntimeError::PathNotFound;
    default:
        return RuntimeError::DeviceIOError;
    }
}

// An existing file of that name must be one we may replace: a folder, or a
// file that may not be written (read-only, immutable), is refused before
// anything is written.  Opening for appending tests that without changing it.
void checkReplaceable(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    if (info.isDir())
        throw SaveError(RuntimeError::PathNotFound,
                           QString::fromLocal8Bit(std::strerror(EISDIR)), path);
    // A FIFO, socket or device of that name is not ours to replace, and
    // opening a FIFO to test it would wait for a reader that never comes.
    if (!info.isFile())
        throw SaveError(RuntimeError::PathNotFound, QStringLiteral("Not a regular file"), path);
    QFile existing(path);
    if (!existing.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        throw SaveError(numberFor(existing.error()), existing.errorString(), path);
}

QString temporaryNameFor(const QString& path)
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo info(path);
    return info.path() + QLatin1Char('/') + QLatin1Char('.') + info.fileName() +
           QStringLiteral(".%1-%2.part").arg(QCoreApplication::applicationPid()).arg(++counter);
}

// A 24-bit Windows bitmap: a 54-byte header, then the rows from the bottom
// up, three bytes a pixel (blue, green, red), each padded to 4 bytes.  This
// is byte for byte what Qt's "bmp" writer makes of an RGB32 image, but the
// rows are converted into a large buffer and written a few hundred
// kilobytes at a time instead of one system call per row.
constexpr qint64 bitmapHeaderSize = 54;

qint64 bitmapRowBytes(int width)
{
    return (qint64(width) * 3 + 3) & ~qint64(3);
}

void putLE(char* at, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = char((value >> (8 * i)) & 0xFF);
}

// One row of 0xffRRGGBB pixels as blue, green, red bytes.  Four pixels at a
// time become three 32-bit words, which is several times faster than
// storing byte by byte; the pixels are little-endian words in memory.
void packRow(const QRgb* pixel, int width, char* out)
{
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    int x = 0;
    for (; x + 4 <= width; x += 4, pixel += 4, out += 12) {
        const quint32 words[3] = {(pixel[0] & 0xFFFFFF) | (pixel[1] << 24),
                                  ((pixel[1] >> 8) & 0xFFFF) | (pixel[2] << 16),
                                  ((pixel[2] >> 16) & 0xFF) | (pixel[3] << 8)};
        std::memcpy(out, words, sizeof words);
    }
    for (; x < width; ++x, ++pixel, out += 3) {
        out[0] = char(qBlue(*pixel));
        out[1] = char(qGreen(*pixel));
        out[2] = char(qRed(*pixel));
    }
}

// A write that stops part-way (the disk filled up) reports a short count and
// no error; only the next write, which then writes nothing, says why.
bool writeAll(QFile& file, const char* data, qint64 size)
{
    while (size > 0) {
        const qint64 count = file.write(data, size);
        if (count <= 0)
            return false;
        data += count;
        size -= count;
    }
    return true;
}

bool writeBitmap(QFile& file, const QImage& image)
{
    const int width = image.width();
    const int height = image.height();
    const qint64 rowBytes = bitmapRowBytes(width);
    const qint64 imageBytes = rowBytes * height;

    char header[bitmapHeaderSize] = {};
    header[0] = 'B';
    header[1] = 'M';
    putLE(header + 2, quint32(bitmapHeaderSize + imageBytes), 4);
    putLE(header + 10, quint32(bitmapHeaderSize), 4); // where the rows start
    putLE(header + 14, 40, 4);                        // size of the info header
    putLE(header + 18, quint32(width), 4);
    putLE(header + 22, quint32(height), 4);
    putLE(header + 26, 1, 2);  // planes
    putLE(header + 28, 24, 2); // bits a pixel; 30: no compression
    putLE(header + 34, quint32(imageBytes), 4);
    putLE(header + 38, quint32(image.dotsPerMeterX()), 4);
    putLE(header + 42, quint32(image.dotsPerMeterY()), 4);
    if (!writeAll(file, header, bitmapHeaderSize))
        return false;

    // About 512 KiB a write: large enough that system calls cost nothing
    // next to the copying, small enough to stay in the cache.
    const qint64 rowsPerChunk = std::max<qint64>(1, (qint64(512) * 1024) / rowBytes);
    std::vector<char> chunk(std::size_t(std::min<qint64>(rowsPerChunk, height) * rowBytes), 0);
    int y = height - 1;
    while (y >= 0) {
        char* out = chunk.data();
        for (qint64 n = 0; n < rowsPerChunk && y >= 0; ++n, --y) {
            packRow(reinterpret_cast<const QRgb*>(image.constScanLine(y)), width, out);
            out += rowBytes; // the padding stays zero
        }
        if (!writeAll(file, chunk.data(), out - chunk.data()))
            return false;
    }
    return true;
}

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

} // namespace

StagedPictures::StagedPictures() = default;

StagedPictures::~StagedPictures()
{
    for (const auto& staged : m_staged)
        QFile::remove(staged->temporary);
}

void StagedPictures::SavePicture(const Picture& picture, const QString& path)
{
    if (picture.isEmpty())
        throw SaveError(RuntimeError::InvalidPicture, QStringLiteral("Invalid picture"), path);
    checkReplaceable(path);
    // 32-bit pixels without alpha are what Qt writes as a 24-bit bitmap.
    const QImage image = picture.image().format() == QImage::Format_RGB32
                             ? picture.image()
                             : picture.image().convertToFormat(QImage::Format_RGB32);

    auto staged = std::make_unique<Staged>(Staged{path, temporaryNameFor(path)});
    QFile file(staged->temporary);
    // Unbuffered, so every write reaches the file system at once and a full
    // disk shows as a failed write here rather than vanishing in a buffer.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        throw SaveError(numberFor(file.error()), file.errorString(), path);
    m_staged.push_back(std::move(staged)); // removed again if anything fails

    const bool written = writeBitmap(file, image);
    const qint64 expected = bitmapHeaderSize + bitmapRowBytes(image.width()) * image.height();
    if (!written || file.error() != QFileDevice::NoError) {
        const QString reason = file.error() != QFileDevice::NoError
                                   ? file.errorString()
                                   : QString::fromLocal8Bit(std::strerror(ENOSPC));
        throw SaveError(numberFor(file.error()), reason, path);
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw SaveError(numberFor(file.error()), file.errorString(), path);
    // What the file system says it holds, in case a write claimed more.
    if (QFileInfo(file.fileName()).size() != expected)
        throw SaveError(RuntimeError::DeviceIOError,
                        QString::fromLocal8Bit(std::strerror(ENOSPC)), path);
}

void StagedPictures::Commit()
{
    while (!m_staged.empty()) {
        const Staged& staged = *m_staged.front();
        std::error_code error;
        std::filesystem::rename(fsPath(staged.temporary), fsPath(staged.path), error);
        if (error)
            throw SaveError(RuntimeError::PermissionDenied,
                               QString::fromLocal8Bit(error.message()), staged.path);
        m_staged.erase(m_staged.begin());
    }
}

} // namespace platform
