#pragma once
#include <QByteArrayView>

namespace platform::decode {

// True for a PNG whose colour chunks only restate sRGB: a gAMA of 1/2.2 (within the tolerance
// libpng itself applies before it bothers to correct gamma), cHRM absent or holding sRGB's
// primaries, and no iCCP or sRGB chunk. Such files are what most tools write for plain sRGB
// pixels; reading their 2.2 curve as a different transfer function than sRGB's would darken
// every shadow. `head` is the file's beginning, up to its first IDAT or more.
[[nodiscard]] bool pngMeansSrgb(QByteArrayView head);

} // namespace platform::decode
