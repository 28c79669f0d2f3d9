#pragma once

#include "platform/Picture.h"

namespace platform {

// The separator of paths as the open dialog and a drop give them.
[[nodiscard]] QChar PathSeparator();

// The empty picture.
[[nodiscard]] Picture LoadPicture();
// The picture in the file at `path`: read and decoded once, upright, in sRGB
// and opaque.  A missing, unreadable or unsupported file raises a run-time
// error that carries the reason.
[[nodiscard]] Picture LoadPicture(const QString& path);

// True when both paths name the same existing file, however they are spelled.
[[nodiscard]] bool SameFile(const QString& a, const QString& b);

} // namespace platform
