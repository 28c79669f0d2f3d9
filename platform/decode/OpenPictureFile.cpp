#include "OpenPictureFile.h"

#include "platform/SystemErrorText.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

QString describeErrno(int error)
{
    return systemErrorText(error);
}

} // namespace

QString openPictureFile(const QString& path, QFile& file)
{
    if (path.isEmpty()) return QStringLiteral("没有给出文件");
    // Pictures stored inside the program (":/thanks.jpg") are Qt resources,
    // not files on disk.
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
    if (::stat(native.constData(), &info) != 0) return describeErrno(errno);
    if (QString reason = describeType(info); !reason.isEmpty()) return reason;

    // O_NONBLOCK guards the window between stat() and open() in which the name could be swapped
    // for a FIFO; on a regular file it changes nothing.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return describeErrno(errno);
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return describeErrno(error);
    }
    if (QString reason = describeType(info); !reason.isEmpty()) {
        ::close(fd);
        return reason;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("文件无法打开");
    }
    return {};
}

} // namespace platform::decode
