#pragma once
#include "DecodeResult.h"

#include <QByteArray>
#include <QByteArrayView>

namespace platform::decode {

// True when the file starts with an ISO 'ftyp' box naming one of the HEIF image brands
// (as iPhones and other cameras write them).
[[nodiscard]] bool looksLikeHeif(QByteArrayView head);

// Decodes the primary image, with its rotation/mirroring applied and its colour profile attached.
[[nodiscard]] DecodeResult decodeHeif(const QByteArray& data);

} // namespace platform::decode
