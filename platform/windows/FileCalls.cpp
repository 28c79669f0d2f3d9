#include "platform/FileCalls.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

#include <windows.h>

namespace platform::files {
namespace {

std::wstring native(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

int lastError()
{
    return int(::GetLastError());
}

HANDLE handle(Handle file)
{
    return reinterpret_cast<HANDLE>(file);
}

// A file goes in place under its visible name without the hidden mark it was written with.
int move(const QString& from, const QString& to, DWORD replace)
{
    const DWORD attributes = ::GetFileAttributesW(native(from).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) &&
        !QFileInfo(to).fileName().startsWith(u'.'))
        ::SetFileAttributesW(native(from).c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_HIDDEN));
    return ::MoveFileExW(native(from).c_str(), native(to).c_str(), replace | MOVEFILE_WRITE_THROUGH)
               ? 0
               : lastError();
}

// The folder's leftovers are matched by a regular expression on a worker thread. Compiled to
// machine code, such an expression leaves a stack behind in the thread, and freeing it when the
// thread ends crashes this build of Qt; interpreted, it costs microseconds.
[[maybe_unused]] const bool g_interpretedExpressions = qputenv("QT_ENABLE_REGEXP_JIT", "0");

} // namespace

const int OutOfMemory = ERROR_NOT_ENOUGH_MEMORY, TooLarge = ERROR_FILE_TOO_LARGE;

bool processGone(int id)
{
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, DWORD(id));
    if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    const bool gone = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return gone;
}

// Only an open for deletion tells whether another program holds the file so that it cannot be
// replaced; it is asked for with every kind of sharing, so nobody else is disturbed.
int checkReplaceable(const QString& path)
{
    const DWORD attributes = ::GetFileAttributesW(native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const int error = lastError(); // a new name, or a missing folder found later
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_DIRECTORY;
    if (attributes & (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) return NotRegularFile;
    if (attributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
    const HANDLE file = ::CreateFileW(native(path).c_str(), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lastError();
    ::CloseHandle(file);
    return 0;
}

int createNew(const QString& path, Handle& file)
{
    const HANDLE created = ::CreateFileW(native(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    file = created == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<Handle>(created);
    return file == -1 ? lastError() : 0;
}

int writeAll(Handle file, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        const DWORD piece = DWORD(std::min<std::size_t>(size, 1u << 30));
        if (!::WriteFile(handle(file), data, piece, &written, nullptr)) return lastError();
        if (written == 0) return ERROR_DISK_FULL;
        data += written;
        size -= written;
    }
    return 0;
}

void finished(Handle) {}

int syncAndClose(Handle& file)
{
    const int error = ::FlushFileBuffers(handle(file)) ? 0 : lastError();
    close(file);
    return error;
}

void close(Handle& file)
{
    if (file != -1) ::CloseHandle(handle(std::exchange(file, -1)));
}

// Each rename is written through to the disk, names and all.
int syncFolder(const QString&)
{
    return 0;
}

bool link(const QString& from, const QString& to)
{
    return ::CreateHardLinkW(native(to).c_str(), native(from).c_str(), nullptr);
}

int rename(const QString& from, const QString& to)
{
    return move(from, to, MOVEFILE_REPLACE_EXISTING);
}

bool renameNoReplace(const QString& from, const QString& to)
{
    return move(from, to, 0) == 0;
}

} // namespace platform::files
