#pragma once

#include <cmath>

namespace platform {

// Geometry is measured in twips, 15 to a logical pixel.  Qt scales logical
// pixels to the screen on high-DPI displays, so sizes held in logical pixels
// never depend on the screen and neither do the tiles.
inline constexpr double TwipsPerPixel = 15.0;

// A coordinate system: how many twips one unit measures across and down.
// The form and most boxes measure in twips (1 x 1); the preview uses its
// own user scale.
struct Scale
{
    double twipsPerUnitX = 1.0;
    double twipsPerUnitY = 1.0;

    [[nodiscard]] double xToPixels(double units) const { return units * twipsPerUnitX / TwipsPerPixel; }
    [[nodiscard]] double yToPixels(double units) const { return units * twipsPerUnitY / TwipsPerPixel; }
    [[nodiscard]] float xFromPixels(double pixels) const
    {
        return static_cast<float>(pixels * TwipsPerPixel / twipsPerUnitX);
    }
    [[nodiscard]] float yFromPixels(double pixels) const
    {
        return static_cast<float>(pixels * TwipsPerPixel / twipsPerUnitY);
    }
};

inline constexpr Scale Twips{1.0, 1.0};

// Places and sizes are held in whole pixels.  A set value is rounded to the
// nearest pixel, halves away from zero, so 1.5 px becomes 2 and reads back
// as 2 px in the container's units.
[[nodiscard]] inline int roundToPixel(double pixels)
{
    return static_cast<int>(std::lround(pixels));
}

} // namespace platform
