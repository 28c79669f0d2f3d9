// How the Windows build gets at picture files.  Qt's own readers read the PNGs and JPEGs there.
#include "platform/SystemErrorText.h"
#include "platform/decode/Decoders.h"

#include <QFileInfo>

#include <windows.h>

namespace platform::decode {

// Windows has no FIFOs among files; devices (CON, NUL, COM1 …) are turned away by name.
QString openPictureFile(const QString& path, QFile& file)
{
    if (path.isEmpty()) return QStringLiteral("没有给出文件");
    const QFileInfo info(path);
    if (info.isDir()) return QStringLiteral("这是一个文件夹，不是图片文件");
    if (!info.exists()) return systemErrorText(ERROR_FILE_NOT_FOUND);
    if (!info.isFile()) return QStringLiteral("这不是普通文件");
    if (info.size() == 0) return QStringLiteral("文件是空的");
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly) ? QString() : systemErrorText(int(::GetLastError()));
}

QImage readPngFirst(QFile&, bool)
{
    return {};
}

DecodedPicture readJpeg(QFile&, bool)
{
    return {};
}

// HEIF needs libheif and its decoders, which the Windows build does not carry.
DecodedPicture decodeHeif(const QByteArray&)
{
    return failure(QStringLiteral("Windows 版本不能读取 HEIF 图片"));
}

} // namespace platform::decode
