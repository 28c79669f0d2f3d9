#include "PixelBuffer.h"

namespace platform::decode {

QImage allocateRgb32(QSize size)
{
    return QImage(size, QImage::Format_RGB32);
}

} // namespace platform::decode
