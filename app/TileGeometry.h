#pragma once

#include <QString>

// The arithmetic of the cut, in single precision: the thirds of the picture
// and which third each of the nine tiles shows.  Pure functions, no window.
namespace tiles {

inline constexpr int TileCount = 9;

// v / 3 in single precision.  A result that is not a finite number (the
// input was infinite or not a number) raises a run-time error.
[[nodiscard]] float third(float v);
// Two thirds: the third doubled, which is exact, so the second grid line
// lies exactly twice as far as the first.
[[nodiscard]] float twoThirds(float v);

struct Rect
{
    float x;
    float y;
    float width;
    float height;
};

// The part of a picture of innerWidth x innerHeight that tile n (1 to 9,
// row by row from the top left) shows.
[[nodiscard]] Rect tileSource(int n, float innerWidth, float innerHeight);

// "1.jpg" to "9.jpg".
[[nodiscard]] QString tileFileName(int n);

} // namespace tiles
