#pragma once
#include <QImage>
#include <QSize>

namespace platform::decode {

// A Format_RGB32 picture of `size` for a decoder to fill; null when memory is short.
// Large pictures get memory of their own, in huge pages where the system allows, so that
// filling a photo of tens of megapixels does not stop for tens of thousands of page faults
// (measured: a third of the time of decoding a 48-megapixel JPEG went to them).
[[nodiscard]] QImage allocateRgb32(QSize size);

} // namespace platform::decode
