#pragma once

#include <cmath>

namespace platform {

// How a box's units map onto its pixels: `units` of them span `pixels`
// pixels.  Twips are 15 to a logical pixel; the preview spreads its own
// units over its drawing area.  Kept as a ratio of two whole numbers, so a
// whole number of pixels converts to units and back without a rounding step
// (396 px of a 6000-unit scale are 6000 units, and 6000 units are 396 px).
// Qt scales logical pixels on high-DPI screens, so nothing here depends on
// the screen, and neither do the tiles.
struct Scale
{
    double units = 15;
    double pixels = 1;

    [[nodiscard]] double toPixels(double value) const { return value * pixels / units; }
    [[nodiscard]] double fromPixels(double value) const { return value * units / pixels; }
};

inline constexpr Scale Twips{15, 1};

// Sizes are held in whole pixels: a set value is rounded to the nearest
// pixel, halves away from zero.
[[nodiscard]] inline int roundToPixel(double pixels)
{
    return static_cast<int>(std::lround(pixels));
}

} // namespace platform
