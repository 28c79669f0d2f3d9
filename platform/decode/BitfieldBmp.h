#pragma once
#include "DecodeResult.h"

#include <QByteArrayView>
#include <QFile>

#include <optional>

namespace platform::decode {

// True for a 16- or 32-bit bitmap whose channels are bit fields (BI_BITFIELDS, or the implicit
// 5-5-5 of an uncompressed 16-bit bitmap). `head` is at least the first 70 bytes of the file.
[[nodiscard]] bool isBitfieldBmp(QByteArrayView head);

// Decodes such a bitmap, widening every channel to eight bits by bit replication, so that a
// field's zero stays 0 and its maximum becomes 255 (Qt's reader shifts instead, and white comes
// out (248,252,248)). The file is read from its start.
[[nodiscard]] DecodeResult decodeBitfieldBmp(QFile& file);

} // namespace platform::decode
