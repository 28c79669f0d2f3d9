#include "platform/PictureFiles.h"

#include "platform/Background.h"
#include "platform/ImageDecoder.h"
#include "platform/StagedPictures.h"

#include <QDir>

#include <filesystem>
#include <new>
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

// The file is decoded on a worker thread, so that the window keeps painting
// through the second or so a large photo takes.  Tiles that a crash left
// half-replaced in its folder are put right first: the picture may be one.
Picture LoadPicture(const QString& path)
{
    DecodedPicture decoded;
    try {
        waitFor([&] {
            if (!path.startsWith(QLatin1String(":/"))) RepairTiles(QFileInfo(path).path());
            decoded = decodePictureFile(path);
        });
    } catch (const std::bad_alloc&) {
        throw RuntimeError(RuntimeError::OutOfMemory, QStringLiteral("内存不足"), path);
    }
    if (decoded.image.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, decoded.error, path);
    return Picture(std::move(decoded.image), decoded.turn);
}

bool SameFile(const QString& a, const QString& b)
{
    std::error_code error;
    const bool same = std::filesystem::equivalent(
        std::filesystem::path(QFile::encodeName(a).toStdString()),
        std::filesystem::path(QFile::encodeName(b).toStdString()), error);
    return !error && same;
}

} // namespace platform
