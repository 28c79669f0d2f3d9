#include "platform/FileCalls.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {
namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// Settings of the whole process.  A tile that would pass the user's file-size limit is a failed
// write with a reason, not the end of the program.  Blocks of a megabyte or more come from the
// system and go back to it when freed: left to itself, glibc raises that threshold after the
// first such block is freed and keeps later ones in its heap, and a second turned photo then
// held 11 MiB more at its peak.
[[maybe_unused]] const int g_processSettings =
    (::signal(SIGXFSZ, SIG_IGN), ::mallopt(M_MMAP_THRESHOLD, 1024 * 1024));

} // namespace

const int OutOfMemory = ENOMEM, TooLarge = EFBIG;

bool processGone(int id)
{
    return ::kill(pid_t(id), 0) != 0 && errno == ESRCH;
}

// Asked without opening the file, so that nobody watching it sees it touched.
int checkReplaceable(const QString& path)
{
    struct stat info = {};
    if (::stat(native(path).constData(), &info) != 0)
        return errno == ENOENT ? 0 : errno; // a new name, or a missing folder found later
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return NotRegularFile;
    return ::faccessat(AT_FDCWD, native(path).constData(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int createNew(const QString& path, Handle& file)
{
    file = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return file < 0 ? errno : 0;
}

// A write that stops part-way (the disk filled up, the file grew past the size limit) reports
// a short count and no error; the next write, which then writes nothing, says why.
int writeAll(Handle file, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(int(file), data, size);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) return ENOSPC;
        data += count;
        size -= std::size_t(count);
    }
    return 0;
}

void finished(Handle file)
{
    ::sync_file_range(int(file), 0, 0, SYNC_FILE_RANGE_WRITE);
}

int syncAndClose(Handle& file)
{
    const int error = ::fdatasync(int(file)) == 0 ? 0 : errno;
    close(file);
    return error;
}

void close(Handle& file)
{
    if (file >= 0) ::close(int(std::exchange(file, -1)));
}

// A folder we may not open, or whose file system cannot sync one (EINVAL), is left to the
// system.
int syncFolder(const QString& folder)
{
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = fd < 0 || ::fsync(fd) == 0 ? 0 : errno;
    if (fd >= 0) ::close(fd);
    return error == EINVAL ? 0 : error;
}

bool link(const QString& from, const QString& to)
{
    return ::link(native(from).constData(), native(to).constData()) == 0;
}

int rename(const QString& from, const QString& to)
{
    return ::rename(native(from).constData(), native(to).constData()) == 0 ? 0 : errno;
}

bool renameNoReplace(const QString& from, const QString& to)
{
    return ::renameat2(AT_FDCWD, native(from).constData(), AT_FDCWD, native(to).constData(),
                       RENAME_NOREPLACE) == 0;
}

} // namespace platform::files
