#pragma once
#include <QImage>
#include <QSize>

namespace platform::decode {

// A Format_RGB32 picture of `size` for a decoder to fill; null when memory is short.
[[nodiscard]] QImage allocateRgb32(QSize size);

} // namespace platform::decode
