#pragma once
#include <QImage>

namespace platform::decode {

// Brings whatever a reader produced into the one shape the rest of the program handles:
// Format_RGB32, sRGB, every pixel opaque (transparency composited over white).
// An untagged or sRGB Format_RGB32 image is returned untouched, without a copy.
[[nodiscard]] QImage toOpaqueSrgb(QImage image);

} // namespace platform::decode
