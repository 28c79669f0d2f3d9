#pragma once

#include <QString>

// The arithmetic of the cut: the thirds of the picture and which third each
// of the nine tiles shows.  Pure functions, no window.  Values are twips in
// double precision: a single-precision number cannot hold the width of a
// picture more than about a million pixels wide exactly, and its thirds
// would then fall between pixels.  In double precision a third of a whole
// number of pixels that divides by three is exact.
namespace tiles {

inline constexpr int TileCount = 9;

// v / 3.  A result that is not a finite number (the input was infinite or
// not a number) raises a run-time error.
[[nodiscard]] double third(double v);
// Two thirds: the third doubled, which is exact, so the second grid line
// lies exactly twice as far as the first.
[[nodiscard]] double twoThirds(double v);

struct Rect
{
    double x;
    double y;
    double width;
    double height;
};

// The part of a picture of innerWidth x innerHeight that tile n (1 to 9,
// row by row from the top left) shows.
[[nodiscard]] Rect tileSource(int n, double innerWidth, double innerHeight);

// "1.jpg" to "9.jpg".
[[nodiscard]] QString tileFileName(int n);

} // namespace tiles
