#pragma once

#include <QImage>
#include <QString>

namespace fixtures {

// A picture in which every pixel differs from its neighbours, so a shifted,
// stretched or swapped tile cannot match by accident.
[[nodiscard]] QImage pattern(int width, int height);

// Writes `image` to `path` in `format` ("png", "bmp", ...); fails the test
// if it cannot.
void write(const QImage& image, const QString& path, const char* format = "png");

// A text file, to stand for anything that is not a picture.
void writeText(const QString& path, const QByteArray& text);

} // namespace fixtures
