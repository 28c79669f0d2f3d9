#pragma once
#include "DecodeResult.h"

#include <QByteArray>
#include <QByteArrayView>

namespace platform::decode {

// True for an enhanced metafile: a header record (type 1) carrying the " EMF" signature.
[[nodiscard]] bool looksLikeEmf(QByteArrayView head);

// Draws the metafile onto white at the size of the frame its header gives (96 dpi), so that
// its margins are kept as the author set them.
[[nodiscard]] DecodeResult decodeEmf(const QByteArray& data);

} // namespace platform::decode
