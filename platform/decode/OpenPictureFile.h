#pragma once
#include <QFile>
#include <QString>

namespace platform::decode {

// Opens `path` for reading only if it names a non-empty regular file (symbolic links are followed).
// Pipes, sockets and devices are turned away before anything could block on them.
// On failure `file` stays closed and the reason is returned; on success the result is empty.
[[nodiscard]] QString openPictureFile(const QString& path, QFile& file);

} // namespace platform::decode
