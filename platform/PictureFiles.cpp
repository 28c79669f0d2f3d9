#include "platform/PictureFiles.h"

#include "platform/ImageDecoder.h"
#include "platform/RuntimeError.h"
#include "platform/StagedPictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace platform {

QChar PathSeparator()
{
    return QDir::separator();
}

Picture LoadPicture()
{
    return Nothing;
}

Picture LoadPicture(const QString& path)
{
    // Only a regular file can hold a picture.  Anything else is refused
    // before any reader opens it: opening a FIFO waits for a writer that may
    // never come, and a device like /dev/zero never ends, either of which
    // would freeze the window whatever decoder is behind this.
    const QFileInfo info(path);
    if (!info.exists())
        throw RuntimeError(RuntimeError::FileNotFound, QStringLiteral("File not found"), path);
    if (!info.isFile())
        throw RuntimeError(RuntimeError::InvalidPicture, QStringLiteral("Not a file"), path);
    DecodedPicture decoded = decodePictureFile(path);
    if (decoded.image.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, decoded.error, path);
    return Picture(std::move(decoded.image));
}

void SavePicture(const Picture& picture, const QString& path)
{
    StagedPictures file;
    file.SavePicture(picture, path);
    file.Commit();
}

bool SameFile(const QString& a, const QString& b)
{
    std::error_code error;
    const bool same =
        std::filesystem::equivalent(std::filesystem::path(QFile::encodeName(a).toStdString()),
                                    std::filesystem::path(QFile::encodeName(b).toStdString()),
                                    error);
    return !error && same;
}

} // namespace platform
