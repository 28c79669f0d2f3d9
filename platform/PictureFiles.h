#pragma once

#include "platform/Picture.h"

#include <QChar>
#include <QString>

namespace platform {

// The separator of paths as the open dialog and a drop give them.
[[nodiscard]] QChar PathSeparator();

// The empty picture.
[[nodiscard]] Picture LoadPicture();
// The picture in the file at `path`: read and decoded once, upright, in sRGB
// and opaque.  A missing, unreadable or unsupported file raises a run-time
// error that carries the reason.
[[nodiscard]] Picture LoadPicture(const QString& path);

// Writes `picture` to `path` as a 24-bit Windows bitmap, whatever the name's
// extension, replacing a file of that name only once the bitmap was written
// whole.  A path that cannot be written raises a run-time error.
void SavePicture(const Picture& picture, const QString& path);

// True when both paths name the same existing file, however they are spelled.
[[nodiscard]] bool SameFile(const QString& a, const QString& b);

} // namespace platform
