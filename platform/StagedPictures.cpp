#include "platform/StagedPictures.h"

#include "platform/RuntimeError.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

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

    // Encoded in memory first and then written by us, because QFile reports
    // a write that stops part-way (the disk filled up) as a short count with
    // no error: only a further write, which then writes nothing, says why.
    QByteArray bitmap;
    {
        QBuffer buffer(&bitmap);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "bmp");
        if (!writer.write(image))
            throw SaveError(RuntimeError::DeviceIOError, writer.errorString(), path);
    }
    // A bitmap of 24-bit rows padded to 4 bytes after a 54-byte header.
    const qint64 expected = 54 + qint64((image.width() * 3 + 3) & ~3) * image.height();
    if (bitmap.size() != expected)
        throw SaveError(RuntimeError::DeviceIOError, QStringLiteral("Bitmap not written whole"),
                        path);

    auto staged = std::make_unique<Staged>(Staged{path, temporaryNameFor(path)});
    QFile file(staged->temporary);
    // Unbuffered, so every write reaches the file system at once and a full
    // disk shows as a failed write here rather than vanishing in a buffer.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        throw SaveError(numberFor(file.error()), file.errorString(), path);
    m_staged.push_back(std::move(staged)); // removed again if anything fails

    for (qint64 written = 0; written < bitmap.size();) {
        const qint64 count = file.write(bitmap.constData() + written, bitmap.size() - written);
        if (count <= 0) {
            throw SaveError(numberFor(file.error()),
                            file.error() != QFileDevice::NoError
                                ? file.errorString()
                                : QString::fromLocal8Bit(std::strerror(EIO)),
                            path);
        }
        written += count;
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
