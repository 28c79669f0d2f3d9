#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// The file-system calls of the tile writer, one twin per system (platform/linux/,
// platform/windows/).  Those that can fail return 0 or the system's own error number, which
// systemErrorText explains.
namespace platform::files {

using Handle = std::intptr_t; // an open file, -1 for none

// Errors the writer reports without the system having said them.
extern const int OutOfMemory, TooLarge;
// An existing name that is not a plain file (a FIFO, a device): no system error says that.
constexpr int NotRegularFile = -1;

// True only when no process has that id any more.
bool processGone(int id);
// Why an existing file of that name may not be replaced (a folder, a device, read-only, held
// open by another program), or 0; a name that is free is fine.
int checkReplaceable(const QString& path);
// A new hidden file, refused when the name is taken.
int createNew(const QString& path, Handle& file);
// Writes all of it, or says why not (a full disk included).
int writeAll(Handle file, const unsigned char* data, std::size_t size);
// The file is complete: its write-back to the disk may start.
void finished(Handle file);
// Its data on the disk, then closed.
int syncAndClose(Handle& file);
void close(Handle& file);
// The folder's names on the disk, where the system keeps them apart from the files.
int syncFolder(const QString& folder);
// A second name for the same file, where the file system has them.
bool link(const QString& from, const QString& to);
// Gives `from` the name `to`, in one step replacing whatever had it.
int rename(const QString& from, const QString& to);
// The same, but only when `to` is free.
bool renameNoReplace(const QString& from, const QString& to);

} // namespace platform::files
