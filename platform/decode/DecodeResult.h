#pragma once
#include <QImage>
#include <QString>

namespace platform::decode {

// What one format's decoder hands back before normalisation: the image in whatever format
// and colour space was convenient for the library, tagged with its colour space if known.
struct DecodeResult
{
    QImage image;
    QString error;
};

} // namespace platform::decode
