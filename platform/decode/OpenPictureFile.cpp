#include "OpenPictureFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::decode {
namespace {

QString describeType(const struct stat& info)
{
    if (S_ISDIR(info.st_mode)) return QStringLiteral("Is a folder, not a picture file");
    if (!S_ISREG(info.st_mode)) return QStringLiteral("Not a regular file");
    if (info.st_size == 0) return QStringLiteral("File is empty");
    return {};
}

QString describeErrno(int error)
{
    if (error == ENOENT) return QStringLiteral("File not found");
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString openPictureFile(const QString& path, QFile& file)
{
    if (path.isEmpty()) return QStringLiteral("No file given");
    // Pictures stored inside the program (":/thanks.jpg") are Qt resources,
    // not files on disk.
    if (path.startsWith(QLatin1String(":/"))) {
        file.setFileName(path);
        return file.open(QIODevice::ReadOnly) ? QString() : file.errorString();
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
        return file.errorString();
    }
    return {};
}

} // namespace platform::decode
