#pragma once
#include <QSize>

namespace platform::decode {

// Large enough for a 200-megapixel panorama at four bytes a pixel, small enough that a forged
// header cannot make us reserve tens of gigabytes before the pixel data is even looked at.
inline constexpr int kAllocationLimitMb = 1024;

[[nodiscard]] inline bool fitsAllocationLimit(qint64 width, qint64 height)
{
    if (width <= 0 || height <= 0) return false;
    constexpr qint64 limitBytes = qint64(kAllocationLimitMb) * 1024 * 1024;
    return width * height <= limitBytes / 4;
}

} // namespace platform::decode

namespace platform::decode {

// How much of a file's beginning is looked at to recognise formats Qt has no reader for.
inline constexpr qint64 kSniffBytes = 256;

} // namespace platform::decode
