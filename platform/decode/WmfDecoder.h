#pragma once
#include "DecodeResult.h"

#include <QByteArray>
#include <QByteArrayView>

namespace platform::decode {

// True for a placeable metafile (0x9AC6CDD7 key) or one starting with a plain metafile header.
[[nodiscard]] bool looksLikeWmf(QByteArrayView head);

// Renders the metafile at its own size (96 dpi) onto white.
[[nodiscard]] DecodeResult decodeWmf(const QByteArray& data);

} // namespace platform::decode
